#!/usr/bin/env bash
# The README's two commands on a machine that has nothing installed: a
# minimal Debian 12 tree (debootstrap, from the mirror apt is configured
# with), given this machine's apt configuration as any machine of its kind
# has, a fresh clone of the repository inside it, then scripts/quickstart
# and scripts/test run in it with chroot. Proves that the scripts install
# everything a new machine lacks, and measures how long that takes.
#   KELDO_FRESH_DIR  where the tree is made (default build-fresh); it is
#                    removed before and after
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
dir=${KELDO_FRESH_DIR:-$top/build-fresh}
root=$dir/root
suite=bookworm

log() { echo "fresh-machine: $*" >&2; }

[ "$(id -u)" -eq 0 ] || { log "needs root (debootstrap, mount, chroot)"; exit 1; }
"$top/scripts/bootstrap" fresh
mirror=$("$top/scripts/bootstrap" --print-mirror)

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  mounted=()
}
# Removes the tree, but only once nothing is mounted below it: a bound /dev
# must never be deleted through the tree.
remove_tree() {
  [ -e "$dir" ] || return 0
  local mounts
  mounts=$(findmnt -rn -o TARGET)
  if grep -q "^$(realpath "$dir")/" <<<"$mounts"; then
    log "something is still mounted below $dir; not removing it"
    return 1
  fi
  rm -rf --one-file-system "$dir"
}
cleanup() {
  unmount_all
  remove_tree || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

remove_tree
mkdir -p "$dir"

start=$SECONDS
log "debootstrap --variant=minbase $suite from $mirror"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$dir/debootstrap.log" 2>&1 \
  || { tail -n 30 "$dir/debootstrap.log" >&2; log "debootstrap failed"; exit 1; }
log "tree made in $((SECONDS - start)) s"

# This machine's apt configuration (sources, settings, keyrings) and name
# resolution, as every machine of its kind has them.
rm -rf "$root/etc/apt"
cp -a /etc/apt "$root/etc/apt"
for k in /usr/share/keyrings/*; do
  [ -e "$root$k" ] || cp -a "$k" "$root/usr/share/keyrings/"
done
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# A fresh clone of what is committed, as a user would have it.
git clone -q "$top" "$root/root/keldo-crypto"

bind() {  # bind TYPE-OR---bind SOURCE TARGET
  mkdir -p "$3"
  if [ "$1" = --bind ]; then mount --bind "$2" "$3"; else mount -t "$1" "$2" "$3"; fi
  mounted+=("$3")
}
bind proc proc "$root/proc"
bind sysfs sysfs "$root/sys"
bind --bind /dev "$root/dev"
bind --bind /dev/pts "$root/dev/pts"

in_tree() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} \
    bash -c "cd /root/keldo-crypto && $1"
}

times=()
for cmd in scripts/quickstart scripts/test; do
  log "running $cmd in the fresh tree"
  t=$SECONDS
  in_tree "$cmd"
  times+=("$cmd: $((SECONDS - t)) s")
done

echo
echo "On a fresh Debian 12 (minbase) tree, installs included:"
printf '  %s\n' "${times[@]}"

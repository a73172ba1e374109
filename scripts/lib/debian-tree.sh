# shellcheck shell=bash
# Clean Debian 12 trees for the CI stages and scripts/package-debian
# (sourced; needs root for debootstrap, mount and chroot).
#
#   dt_tree ROOT      a fresh minimal bookworm tree at ROOT, given this
#                     machine's apt configuration (sources, settings,
#                     keyrings) and name resolution as every machine of its
#                     kind has them, with /proc, /sys and /dev mounted
#   dt_run ROOT CMD   runs CMD with bash in ROOT, with a clean environment
#   dt_release ROOT   unmounts what dt_tree mounted and removes ROOT
#   dt_release_all    the same for every tree made (for an EXIT trap)
#
# The base tree is debootstrap --variant=minbase from the mirror apt is
# configured with. It is made once and kept as a tarball,
# $KELDO_DEBIAN_CACHE/bookworm-minbase.tar (default build-cache/ in the
# clone), that later trees of the same CI run unpack instead: a tarball
# older than KELDO_DEBIAN_BASE_MAX_AGE minutes (default 360) is made anew,
# and with KELDO_DEBIAN_BASE_FRESH=1 it always is. Packages apt downloads
# into the trees are kept in $KELDO_DEBIAN_CACHE/archives, which apt checks
# against the signed index like any download before it uses one
# (KELDO_DEBIAN_TREE_NO_CACHE=1: not shared).

dt_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
dt_cache=${KELDO_DEBIAN_CACHE:-$dt_top/build-cache}
dt_suite=bookworm
dt_mounted=()
dt_roots=()

dt_log() { echo "debian-tree: $*" >&2; }

# The base tarball: made when missing or too old, else reused.
dt_base() {
  local tarball=$dt_cache/$dt_suite-minbase.tar mirror tmp start
  if [ "${KELDO_DEBIAN_BASE_FRESH:-0}" != 1 ] && [ -s "$tarball" ] &&
     [ -n "$(find "$tarball" -mmin -"${KELDO_DEBIAN_BASE_MAX_AGE:-360}")" ]; then
    echo "$tarball"
    return
  fi
  mirror=$("$dt_top/scripts/bootstrap" --print-mirror)
  mkdir -p "$dt_cache"
  tmp=$(mktemp -d "$dt_cache/debootstrap.XXXXXX")
  start=$SECONDS
  dt_log "debootstrap --variant=minbase $dt_suite from $mirror"
  if ! debootstrap --variant=minbase "$dt_suite" "$tmp/root" "$mirror" >"$tmp/debootstrap.log" 2>&1; then
    tail -n 30 "$tmp/debootstrap.log" >&2
    rm -rf --one-file-system "$tmp"
    dt_log "debootstrap failed"
    return 1
  fi
  tar -C "$tmp/root" --numeric-owner -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
  rm -rf --one-file-system "$tmp"
  dt_log "base tree made in $((SECONDS - start)) s, kept as $tarball"
  echo "$tarball"
}

dt_mount() {  # dt_mount TYPE-OR---bind SOURCE TARGET
  mkdir -p "$3"
  if [ "$1" = --bind ]; then mount --bind "$2" "$3"; else mount -t "$1" "$2" "$3"; fi
  dt_mounted+=("$3")
}

dt_tree() {
  local root=$1 base
  base=$(dt_base)
  [ ! -e "$root" ] || { dt_log "$root exists"; return 1; }
  mkdir -p "$root"
  dt_roots+=("$root")
  tar -C "$root" --numeric-owner -xf "$base"
  rm -rf "$root/etc/apt"
  cp -a /etc/apt "$root/etc/apt"
  local k
  for k in /usr/share/keyrings/*; do
    [ -e "$root$k" ] || cp -a "$k" "$root/usr/share/keyrings/"
  done
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  dt_mount proc proc "$root/proc"
  dt_mount sysfs sysfs "$root/sys"
  dt_mount --bind /dev "$root/dev"
  dt_mount --bind /dev/pts "$root/dev/pts"
  if [ "${KELDO_DEBIAN_TREE_NO_CACHE:-0}" != 1 ]; then
    mkdir -p "$dt_cache/archives/partial"
    dt_mount --bind "$dt_cache/archives" "$root/var/cache/apt/archives"
  fi
}

dt_run() {
  local root=$1
  shift
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive \
    ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} \
    bash -c "$*"
}

dt_unmount_below() {
  local root i keep=()
  root=$(realpath "$1")
  for ((i = ${#dt_mounted[@]} - 1; i >= 0; i--)); do
    case ${dt_mounted[$i]} in
      "$root"/*) umount "${dt_mounted[$i]}" 2>/dev/null || umount -l "${dt_mounted[$i]}" 2>/dev/null || true ;;
      *) keep=("${dt_mounted[$i]}" "${keep[@]}") ;;
    esac
  done
  dt_mounted=("${keep[@]}")
}

# Removes the tree, but only once nothing is mounted below it: a bound /dev
# must never be deleted through the tree.
dt_release() {
  local root=$1
  [ -e "$root" ] || return 0
  dt_unmount_below "$root"
  if findmnt -rn -o TARGET | grep -q "^$(realpath "$root")/"; then
    dt_log "something is still mounted below $root; not removing it"
    return 1
  fi
  rm -rf --one-file-system "$root"
}

dt_release_all() {
  local r
  for r in "${dt_roots[@]}"; do dt_release "$r" || true; done
  dt_roots=()
}

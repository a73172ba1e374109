#!/usr/bin/env bash
# The README's two commands on a machine that has nothing installed: a
# minimal Debian 12 tree (debootstrap, from the mirror apt is configured
# with), given this machine's apt configuration as any machine of its kind
# has, a fresh clone of the repository inside it, then scripts/quickstart
# and scripts/test run in it with chroot. Proves that the scripts install
# everything a new machine lacks, and measures how long that takes. The
# base tree it makes is kept as a tarball for the later stages that need a
# clean Debian 12 (scripts/lib/debian-tree.sh).
#   KELDO_FRESH_DIR  where the tree is made (default build-fresh); it is
#                    removed before and after
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
dir=${KELDO_FRESH_DIR:-$top/build-fresh}
root=$dir/root

log() { echo "fresh-machine: $*" >&2; }

[ "$(id -u)" -eq 0 ] || { log "needs root (debootstrap, mount, chroot)"; exit 1; }
"$top/scripts/bootstrap" fresh

# shellcheck source=../lib/debian-tree.sh
. "$top/scripts/lib/debian-tree.sh"
trap 'dt_release_all; dt_release "$dir" || true' EXIT
trap 'exit 130' INT TERM

# A new base tree for this run (debootstrap, timed here); the later stages
# that need a clean Debian 12 unpack it from the tarball kept in
# build-cache/. No package cache is shared with the tree: the installs are
# timed as a new machine makes them.
dt_release "$dir"
mkdir -p "$dir"
start=$SECONDS
KELDO_DEBIAN_BASE_FRESH=1 dt_base >/dev/null
log "tree made in $((SECONDS - start)) s"
KELDO_DEBIAN_TREE_NO_CACHE=1 dt_tree "$root"

# A fresh clone of what is committed, as a user would have it.
git clone -q "$top" "$root/root/keldo-crypto"

in_tree() {
  dt_run "$root" "cd /root/keldo-crypto && $1"
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

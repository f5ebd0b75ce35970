#!/bin/bash
# ns-run.sh [--overlay DIR] COMMAND [ARG...]
#
# Runs COMMAND in a private mount namespace where /usr/local is an overlay
# whose upper layer lives in a tmpfs, and /usr/local/Vantrel is a fresh tmpfs.
# The command can create and write the system's fixed paths while the
# machine's own /usr/local stays visible and untouched. Needs root.
#
# With --overlay DIR, / itself is an overlay in the namespace: DIR's files
# show at their paths (DIR/usr/sbin/kextload as /usr/sbin/kextload) over the
# machine's root file system, and whatever is written lands in a tmpfs.
# /proc, /sys, /dev and the source and build trees are bound in as they are,
# so writes there are real; other mounts show as empty folders. COMMAND runs
# there, in the same working folder.
set -euo pipefail

if [ "${WARD_NS_INSIDE:-}" != "1" ]; then
    exec unshare --mount --propagation private env WARD_NS_INSIDE=1 "$0" "$@"
fi

# Everything below runs inside the new namespace: nothing is created under
# the real /usr/local, or on the machine's root file system, only on the
# overlays.
if [ "${1:-}" = "--overlay" ] && [ -z "${WARD_NS_CWD:-}" ]; then
    if [ $# -lt 3 ] || [ ! -d "$2" ]; then
        echo "usage: ns-run.sh [--overlay DIR] COMMAND [ARG...] (DIR a folder)" >&2
        exit 2
    fi
    dir=$(cd "$2" && pwd -P)
    shift 2
    self=$(readlink -f -- "$0")
    src=$(cd "$(dirname "$self")/.." && pwd -P)
    cwd=$(pwd -P)
    trees=("$src")
    if [ -n "${WARD_BUILD_DIR:-}" ]; then
        build=$(cd "$src" && cd "$WARD_BUILD_DIR" 2>/dev/null && pwd -P) || build=""
        case "$build" in
            "" | "$src" | "$src"/*) ;;
            *) trees+=("$build") ;;
        esac
    fi

    scratch=$(mktemp -d /tmp/ward-ns.XXXXXX)
    # A failure on the way leaves nothing on the machine's /tmp either.
    trap 'umount -l "$scratch" 2>/dev/null; rmdir "$scratch" 2>/dev/null' EXIT
    mount -t tmpfs -o mode=0755 ward-ns "$scratch"
    mkdir "$scratch/lower" "$scratch/upper" "$scratch/work" "$scratch/root"
    # A copy: overlayfs refuses a layer on /'s own file system beside /
    # ("overlapping lowerdir path").
    cp -a -- "$dir/." "$scratch/lower/"
    mount -t overlay ward-root \
        -o "lowerdir=$scratch/lower:/,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/root"
    for m in /proc /sys /dev "${trees[@]}"; do
        mkdir -p "$scratch/root$m"
        mount --rbind "$m" "$scratch/root$m"
    done
    # The new root goes over / as switch_root does it, which leaves the
    # scratch folder free to go: the overlay keeps its layers.
    cd "$scratch/root"
    mount --move . /
    umount -l "$scratch"
    rmdir "$scratch"
    exec chroot . /usr/bin/env WARD_NS_CWD="$cwd" "$self" "$@"
fi
if [ -n "${WARD_NS_CWD:-}" ]; then
    cd "$WARD_NS_CWD" || { echo "ns-run.sh: $WARD_NS_CWD is not inside the namespace" >&2; exit 2; }
    unset WARD_NS_CWD
fi

scratch=$(mktemp -d /tmp/ward-ns.XXXXXX)
mount -t tmpfs -o mode=0755 ward-ns "$scratch"
mkdir "$scratch/upper" "$scratch/work"
mount -t overlay ward-overlay \
    -o "lowerdir=/usr/local,upperdir=$scratch/upper,workdir=$scratch/work" /usr/local
# The overlay keeps its layers; the scratch folder can go at once.
umount -l "$scratch"
rmdir "$scratch"
mkdir -p /usr/local/Vantrel
mount -t tmpfs -o mode=0755 ward-vantrel /usr/local/Vantrel

exec "$@"

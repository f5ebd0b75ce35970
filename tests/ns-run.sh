#!/bin/bash
# ns-run.sh COMMAND [ARG...]
#
# Runs COMMAND in a private mount namespace where /usr/local is an overlay
# whose upper layer lives in a tmpfs, and /usr/local/Vantrel is a fresh tmpfs.
# The command can create and write the system's fixed paths while the
# machine's own /usr/local stays visible and untouched. Needs root.
set -euo pipefail

if [ "${WARD_NS_INSIDE:-}" != "1" ]; then
    exec unshare --mount --propagation private env WARD_NS_INSIDE=1 "$0" "$@"
fi

# Everything below runs inside the new namespace: nothing is created under
# the real /usr/local, only on the overlay.
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

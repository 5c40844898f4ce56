#!/bin/sh
# Runs a test with GLUEBOX_SMALL_VOLUME naming an empty 32 MB volume: a tmpfs mounted in a
# mount namespace of the test's own, so that it goes when the test ends and nothing else
# sees it. Where namespaces are not allowed the test runs without it, and skips.
set -u
size=${GLUEBOX_SMALL_VOLUME_SIZE:-32m}
if [ "$(id -u)" = 0 ]; then ns="unshare --mount"; else ns="unshare --mount --map-root-user"; fi
if ! $ns true 2>/dev/null; then
    echo "on-small-volume.sh: no mount namespace here; the test runs without a small volume"
    exec "$@"
fi
exec $ns sh -c '
    volume=$(mktemp -d) || exit 1
    mount -t tmpfs -o size="$0" gluebox-small "$volume" || exit 1
    GLUEBOX_SMALL_VOLUME=$volume "$@"
    status=$?
    umount "$volume"; rmdir "$volume"
    exit $status' "$size" "$@"

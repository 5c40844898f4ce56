#!/bin/sh
# Runs a command in a network namespace of its own that holds only the loopback interface,
# up, with the addresses 127.0.0.2 to 127.0.0.9 on it (one per simulated camera).
# GigE Vision discovery broadcasts on every interface: whatever enumerates or starts a
# GigE Vision camera runs in here, so that no packet leaves the machine.
#   scripts/in-netns.sh COMMAND [ARG...]
set -eu
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi
if [ "$(id -u)" = 0 ]; then ns="unshare --net"; else ns="unshare --net --map-root-user"; fi
# Where no namespace can be made (a container without the right), nothing runs: 77 is
# what the test suite takes for "skipped".
if ! $ns true 2>/dev/null; then
    echo "$0: cannot make a network namespace here ($ns): not run" >&2
    exit 77
fi
exec $ns sh -c '
    set -e
    ip link set lo up
    for host in 2 3 4 5 6 7 8 9; do ip addr add 127.0.0.$host/8 dev lo; done
    exec "$@"' in-netns "$@"

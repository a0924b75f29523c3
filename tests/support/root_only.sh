#!/bin/sh
# Runs the cases of a suite that switch to an unprivileged user, which only root may do:
# PROFILEDESK_ROOT_CASES=1 lets them run. When the suite is not root it exits 77, which ctest
# reports as skipped, with the reason below in the test's output.
# Usage: root_only.sh COMMAND...
if [ "$(id -u)" != 0 ]; then
    echo "skipped: switching to an unprivileged user needs root, and the suite runs as uid $(id -u)"
    exit 77
fi
PROFILEDESK_ROOT_CASES=1 exec "$@"

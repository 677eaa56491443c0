#!/usr/bin/env bash
# Runs the built updater the way a newcomer meets it: a complete update of both simulated devices
# (controller 00.30 and wheel display 00.49, as an older controller comes from the shop) from the
# command line, in real time, with its progress on the terminal. It takes about half a minute.
#
#   scripts/run.sh [more options]     e.g. -ALWAYS_UPDATE, or -SIMULATE_DEVICES=00.31,00.49
#
# The window is not part of the program yet; until it is, a display makes no difference here.
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/bin/xr4000-nova-updater

devices="-SIMULATE_DEVICES=00.30,00.49"
for option in "$@"; do
    case "${option^^}" in
        -SIMULATE_DEVICES*) devices="" ;;
    esac
done

echo "run: updating two simulated devices: $program -SILENT -DEBUG_CONSOLE ${devices} $*" >&2
set +e
"$program" -SILENT -DEBUG_CONSOLE ${devices:+"$devices"} "$@"
status=$?
set -e
echo "run: exit status $status" >&2
exit "$status"

#!/usr/bin/env bash
# Runs the built updater the way a newcomer meets it, on two simulated devices (controller 00.30
# and wheel display 00.49, as an older controller comes from the shop), in real time.
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) the window opens on them: click UPDATE FIRMWARE
# and watch both devices being updated, then close the window. Each step is also written to the
# terminal (-DEBUG_CONSOLE). Without a display the whole update runs from the command line
# (-SILENT) with its progress on the terminal; it takes about half a minute.
#
#   scripts/run.sh [more options]     e.g. -ALWAYS_UPDATE, or -SIMULATE_DEVICES=00.31,00.49
#   RUN_WITHOUT_WINDOW=1 scripts/run.sh   the terminal run even where a display exists
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/bin/xr4000-nova-updater

devices="-SIMULATE_DEVICES=00.30,00.49"
for option in "$@"; do
    case "${option^^}" in
        -SIMULATE_DEVICES*) devices="" ;;
    esac
done

mode="-SILENT"
what="updating two simulated devices from the command line"
if [[ -z "${RUN_WITHOUT_WINDOW:-}" && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then
    mode=""
    what="the window on two simulated devices"
fi

echo "run: $what: $program ${mode:+$mode }-DEBUG_CONSOLE ${devices} $*" >&2
set +e
"$program" ${mode:+"$mode"} -DEBUG_CONSOLE ${devices:+"$devices"} "$@"
status=$?
set -e
echo "run: exit status $status" >&2
exit "$status"

#!/usr/bin/env bash
# Writes the window as a PNG: the program on simulated devices (controller 00.30, wheel display
# 00.49, as scripts/run.sh has them) on a private Xvfb, its frame as it stands half a second after
# the window showed, in docs/screenshots/window.png (or the file given).
#
#   scripts/screenshot.sh [file]       GDK_SCALE=2 scripts/screenshot.sh x2.png for the HiDPI frame
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/bin/xr4000-nova-updater
output=${1:-docs/screenshots/window.png}
mkdir -p "$(dirname "$output")"

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/run"
export HOME=$sandbox XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data XDG_STATE_HOME=$sandbox/state \
    XDG_RUNTIME_DIR=$sandbox/run
export XR4000_NOVA_UPDATER_FRAME="$sandbox/window.png" XR4000_NOVA_UPDATER_FRAME_AFTER_MS=${FRAME_AFTER_MS:-500}

bash scripts/with-xvfb.sh "$program" -SIMULATE_DEVICES=00.30,00.49 ${SCREENSHOT_OPTIONS:-}
if [ ! -s "$sandbox/window.png" ]; then
    echo "screenshot: the program wrote no frame" >&2
    exit 1
fi
cp "$sandbox/window.png" "$output"
echo "screenshot: $output"

#!/usr/bin/env bash
# Writes a PNG of every view state of the window (no device, scanning, ready, downgrade, switching
# into update mode, downloading at a third, each failure, a device that did not come back, a
# cancelled switch, a missing firmware file, updated, both devices updated) and of
# the ready state in each shipped language into docs/screenshots/ (or the folder given). The
# pictures come from the real main control on simulated devices in virtual time, painted without
# a display (tools/UpdaterScreenshots); the build folder must hold updater-screenshots.
#
#   scripts/screenshots.sh [folder]       SCALE=2 scripts/screenshots.sh for HiDPI pictures
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
output=${1:-docs/screenshots}
cmake --build "$build" --target updater-screenshots -j2 >/dev/null
"$build/bin/updater-screenshots" "$output" --scale "${SCALE:-1}"

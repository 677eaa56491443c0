#!/usr/bin/env bash
# Runs a command on a display of its own: a private Xvfb (1280 x 1024, 24 bits) that Xvfb numbers
# itself (-displayfd), so that runs beside each other never meet, and that ends with the command.
# Without Xvfb the command runs on whatever display the environment names (maybe none).
#
#   scripts/with-xvfb.sh command [arguments]     the command's exit status is this script's
set -euo pipefail

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "with-xvfb: Xvfb is missing (scripts/install-deps.sh installs it); using DISPLAY=${DISPLAY:-none}" >&2
    exec "$@"
fi

numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -f "$numberfile"
}
trap cleanup EXIT

# Xvfb writes its number once it accepts connections.
for _ in $(seq 1 100); do
    [ -s "$numberfile" ] && break
    if ! kill -0 "$xvfb" 2>/dev/null; then
        echo "with-xvfb: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -s "$numberfile" ]; then
    echo "with-xvfb: Xvfb gave no display number within 5 s" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$numberfile" | tr -d '[:space:]')"
unset WAYLAND_DISPLAY
set +e
"$@"
status=$?
set -e
exit "$status"

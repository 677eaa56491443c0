#!/usr/bin/env bash
# Runs the built updater the way a newcomer meets it.
set -euo pipefail
cd "$(dirname "$0")/.."
exec build/bin/xr4000-nova-updater -DEBUG_CONSOLE "$@"

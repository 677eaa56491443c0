#!/usr/bin/env bash
# Every result dropped on purpose in the program's sources says why: a "(void)" cast needs a "//"
# comment after it on the same line, or a comment line just above it. Prints file:line and the line
# for each one without, and fails when there is any.
#
#   scripts/check-discards.sh [root]     root: the source tree (default: this script's tree)
set -euo pipefail

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"

folders=()
for folder in ZTFramework FirmwareUpdater Simulator tools; do
    [[ -d "$folder" ]] && folders+=("$folder")
done
if ((${#folders[@]} == 0)); then
    echo "check-discards: no source folder (ZTFramework FirmwareUpdater Simulator tools) under $root" >&2
    exit 2
fi

mapfile -t files < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.cc' -o -name '*.h' -o -name '*.hpp' \
                                                     -o -name '*.inc' \) | LC_ALL=C sort)
((${#files[@]} > 0)) || exit 0

# A cast is "(void)" not preceded by a name (that is a parameter list, f(void)) and followed by the
# expression it discards.
awk '
    FNR == 1 { previous = "" }
    {
        line = $0
        if (match(line, /(^|[^A-Za-z0-9_])\(void\)[ \t]*[A-Za-z_:!(*&]/)) {
            after = substr(line, RSTART)
            above = previous
            sub(/^[ \t]+/, "", above)
            if (index(after, "//") == 0 && substr(above, 1, 2) != "//") {
                printf "%s:%d: a discarded result without a reason: %s\n", FILENAME, FNR, line
                missing++
            }
        }
        previous = line
    }
    END {
        if (missing) {
            printf "check-discards: %d discard(s) without a reason; write why after it: (void)Call(); // why\n", missing
            exit 1
        }
    }
' "${files[@]}"

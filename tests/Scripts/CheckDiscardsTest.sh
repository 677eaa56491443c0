#!/usr/bin/env bash
# scripts/check-discards.sh over small made-up trees: what it must report, and what it must let be.
set -uo pipefail

script="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-discards.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Writes the file under a fresh tree and runs the check there; sets status and output.
check() {
    local path="$1" text="$2"
    rm -rf "$work/tree"
    mkdir -p "$work/tree/$(dirname "$path")"
    printf '%s\n' "$text" > "$work/tree/$path"
    output="$(bash "$script" "$work/tree" 2>&1)"
    status=$?
}

check ZTFramework/A.cpp $'void F()\n{\n    (void)Call();\n}'
[[ $status -ne 0 ]] || fail "a discard without a reason passed"
grep -q '^ZTFramework/A.cpp:3: ' <<<"$output" || fail "the report does not name ZTFramework/A.cpp:3: $output"

check FirmwareUpdater/B.cpp $'    (void)Call(); // best effort'
[[ $status -eq 0 ]] || fail "a reason on the same line was not taken: $output"

check Simulator/C.cpp $'    // Logged by the callee.\n    (void)Call(first,\n               second);'
[[ $status -eq 0 ]] || fail "a comment line just above was not taken: $output"

check tools/D.cpp $'    Other(); // about Other\n    (void)Call();'
[[ $status -ne 0 ]] || fail "a trailing comment on the code line above was taken as the reason"
grep -q '^tools/D.cpp:2: ' <<<"$output" || fail "the report does not name tools/D.cpp:2: $output"

check ZTFramework/E.h $'int Legacy(void) noexcept;\nauto x = static_cast<void>(0);\nconst char* s = "(void)";'
[[ $status -eq 0 ]] || fail "a parameter list, a static_cast or a string was taken for a discard: $output"

check tests/F.cpp $'    (void)Call();'
mkdir -p "$work/tree/ZTFramework"
output="$(bash "$script" "$work/tree" 2>&1)"
[[ $? -eq 0 ]] || fail "a discard under tests/ was checked: $output"

rm -rf "$work/tree" && mkdir -p "$work/tree/elsewhere"
bash "$script" "$work/tree" > /dev/null 2>&1
[[ $? -eq 2 ]] || fail "a tree without any source folder was not refused"

if ((failures > 0)); then
    echo "$failures check(s) of check-discards.sh failed"
    exit 1
fi
echo "check-discards.sh: all cases behave"

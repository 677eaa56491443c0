#!/usr/bin/env bash
# How the program and its window module are linked, read from the linked files:
#   - one C++ runtime, the shared one: both load libstdc++.so.6, and the program exports none of
#     the runtime's symbols (namespace std, __cxa_*, __gxx_*) for the module to bind to;
#   - libusb and Expat are the system's shared libraries;
#   - the window's libraries (SDL2, Cairo, Pango, GIO) come only with the module, so query and
#     silent runs never load them;
#   - the module holds no copy of the program's code: every name of ours it uses and does not
#     define is one the program exports, it defines none of the program's functions or data, and
#     the program exports nothing the module does not take from it;
#   - the module binds its own names when it is loaded (-z now).
#
#   ProgramLinkingTest.sh <program> <window module> [sanitizer]
# With a sanitizer (address, thread) clang links the program with --export-dynamic where the
# sanitizer run-time library ships no list of its interceptors (as Debian's does not), so the
# program then exports every symbol it has: the runtime-export check is for the other builds.
set -uo pipefail
program=$1 module=$2 sanitizer=${3:-}
runtime_entries='|__cxa|__gxx'
failed=0 passed=0
expect() { # expect <what went wrong> <command...>
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAILED: $what" >&2; failed=$((failed + 1)); fi
}
needed() { objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'; }

# Mangled names in namespace std: _ZNSt..., _ZNKSt..., _ZSt..., the abbreviations Sa/Sb/Ss/Si/So/Sd,
# and their virtual tables, type information, guards and local statics; the runtime's own
# namespaces (__gnu_cxx, __cxxabiv1) and C entries (__cxa_*, __gxx_*).
runtime_exports=$(nm -D --defined-only "$program" | awk '{ print $NF }' |
    grep -E "^_Z(T[VISTHW]|GV|GVZ|Z)?N?K?(S[tabsiod]|[0-9]+__)$runtime_entries" | c++filt | head -n 10)
if [ -z "$sanitizer" ]; then
    expect "the program exports the C++ runtime's symbols: $runtime_exports" test -z "$runtime_exports"
fi

program_needs=$(needed "$program" | tr '\n' ' ')
module_needs=$(needed "$module" | tr '\n' ' ')
for library in libstdc++.so.6 libusb-1.0.so.0 libexpat.so.1; do
    expect "the program does not load $library as a shared library (it needs: $program_needs)" \
        grep -qw -- "$library" <<<"$program_needs"
done
expect "the window module does not load the shared C++ runtime (it needs: $module_needs)" \
    grep -qw -- libstdc++.so.6 <<<"$module_needs"
window_libraries=$(needed "$program" | grep -E '^lib(SDL2|cairo|pango|gio|glib|gobject)' | tr '\n' ' ')
expect "the program loads the window's libraries at every start: $window_libraries" test -z "$window_libraries"
expect "the window module does not load SDL2 itself (it needs: $module_needs)" grep -q 'libSDL2' <<<"$module_needs"
# Mangled names whose outermost name is ours (a length, then a letter), as cmake/ModuleImports.cmake
# recognises them; the runtime's begin with "S" or an underscore.
ours='^_Z(T[VTIS]|GVZ?|Z|T[hv][n0-9_]*)?N?K?[1-9][0-9]*[A-Za-z]'
names() { awk '{ print $NF }' | sed 's/@.*//' | grep -E "$ours" | sort -u; }
# The first five of a list of mangled names, readable, on one line.
readable() { grep . | c++filt | head -n 5 | paste -sd '|' | sed 's/|/ | /g'; }
module_imports=$(nm -D --undefined-only "$module" | names)
program_exports=$(nm -D --defined-only "$program" | names)
missing=$(comm -23 <(printf '%s\n' "$module_imports") <(printf '%s\n' "$program_exports") | readable)
expect "the window module uses names the program does not export (its dlopen fails): $missing" test -z "$missing"
# The module's own exports are its two entries; a library of ours linked into it shows up here.
module_exports=$(nm -D --defined-only "$module" | names | readable)
expect "the window module exports names of ours beside its entries: $module_exports" test -z "$module_exports"
# Copies that are not exported: functions and data the program defines (strong, global), also
# defined in the module. Inline functions and templates, which each binary instantiates for
# itself, are weak or local in the program and not counted.
strong_in_program=$(nm --defined-only "$program" 2>/dev/null | awk '$2 ~ /^[TDBR]$/' | names)
in_module=$(nm --defined-only "$module" 2>/dev/null | names)
copies=$(comm -12 <(printf '%s\n' "$strong_in_program") <(printf '%s\n' "$in_module") | readable)
expect "the window module contains its own copy of the program's code: $copies" test -z "$copies"
# The program loads the module lazily (its libraries bind at their first calls); the module's own
# names must still all bind at the load, so that one the program lacks fails the dlopen.
module_flags=$(readelf -d "$module" | awk '/\(FLAGS(_1)?\)/' | tr -s ' ')
expect "the window module binds its names lazily (a missing one would end the process at its first call): ${module_flags:-no FLAGS entry}" \
    grep -qE 'BIND_NOW|Flags:.* NOW' <<<"$module_flags"
# The program exports only what the module takes (with a sanitizer, clang exports everything).
if [ -z "$sanitizer" ]; then
    unused=$(comm -13 <(printf '%s\n' "$module_imports") <(printf '%s\n' "$program_exports") | readable)
    expect "the program exports names the window module does not use: $unused" test -z "$unused"
fi

echo "$passed passed, $failed failed"
exit "$failed"

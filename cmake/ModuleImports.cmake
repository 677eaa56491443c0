# Writes the linker's dynamic list (ld --dynamic-list) of the names of ours that a module leaves
# undefined, for the program that loads it to export exactly those and keep the rest of its names
# to itself.
#
#   cmake -DNM=<nm> -DMODULE=<module file> -DOUTPUT=<list file> -P ModuleImports.cmake
#
# A name is ours when its outermost name is: a mangled name whose first component is a length and
# a name that starts with a letter. The C++ runtime's start with "S" (std and its abbreviations)
# or an underscore (__gnu_cxx, __cxxabiv1), or are not mangled (__cxa_*), and are never listed:
# both binaries take those from libstdc++.so. Recognised: functions and data (_Z, _ZN, _ZNK),
# local statics and guards (_ZZ, _ZGV), virtual tables, VTTs, type information and its names
# (_ZTV, _ZTT, _ZTI, _ZTS), and thunks (_ZTh, _ZTv).
foreach(variable NM MODULE OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "ModuleImports.cmake needs -D${variable}=...")
    endif()
endforeach()

execute_process(COMMAND "${NM}" -D --undefined-only "${MODULE}" OUTPUT_VARIABLE listing ERROR_VARIABLE error
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} could not list the undefined names of ${MODULE}: ${error}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    # "                 U name" or "                 U name@VERSION"
    string(REGEX REPLACE "^.*[ \t]" "" name "${line}")
    string(REGEX REPLACE "@.*$" "" name "${name}")
    if(name MATCHES "^_Z(T[VTIS]|GVZ?|Z|T[hv][n0-9_]*)?N?K?[1-9][0-9]*[A-Za-z]")
        list(APPEND names "${name}")
    endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)

set(text "{\n")
foreach(name IN LISTS names)
    string(APPEND text "  ${name};\n")
endforeach()
string(APPEND text "};\n")
# Written only when it changed, so that an unchanged list does not link the program again.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)

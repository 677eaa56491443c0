# Turns files into a C++ source that builds them into the program as built-in resources.
#
#   cmake -DOUTPUT=<file.cpp> -DINPUT_DIR=<folder> -DRESOURCES=NAME:file,NAME:file,... -P EmbedResources.cmake
#
# Each file becomes a byte array registered with ZT::CBuiltInResources under NAME when the
# program starts, so the loader finds it under the location "::". Plain CMake, so the build
# needs no tool beyond CMake itself.

if(NOT OUTPUT OR NOT INPUT_DIR OR NOT RESOURCES)
    message(FATAL_ERROR "EmbedResources.cmake needs OUTPUT, INPUT_DIR and RESOURCES")
endif()

string(REPLACE "," ";" entries "${RESOURCES}")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
    string(FIND "${entry}" ":" colon)
    string(SUBSTRING "${entry}" 0 ${colon} name)
    math(EXPR fileStart "${colon} + 1")
    string(SUBSTRING "${entry}" ${fileStart} -1 file)
    file(READ "${INPUT_DIR}/${file}" hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    if(size EQUAL 0)
        set(bytes "0")
    else()
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
        # 16 bytes to a line (CMake's regular expressions have no counted repetition).
        string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
        string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
    endif()
    string(APPEND arrays "// ${file}\nconst std::uint8_t kResource${index}[] = {\n    ${bytes}\n};\n\n")
    string(APPEND table "    {\"${name}\", kResource${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(source "// Generated from ${INPUT_DIR} by tools/EmbedResources.cmake. Do not edit.

#include \"ZTFramework/Resources/BuiltInResources.h\"

#include <cstdint>

namespace {

${arrays}const ZT::BuiltInResource kResources[] = {
${table}};

// Registers the resources before main runs.
const struct Registrar {
    Registrar() { ZT::CBuiltInResources::Register(kResources); }
} kRegistrar;

} // namespace
")

# Rewrite only on change, so an unchanged resource set does not rebuild what links it.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" previous)
    if(previous STREQUAL source)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${source}")

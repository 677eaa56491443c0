# zt_library(NAME DIR [DIR ...] [DEPS ...]): one static library from the .cpp files of its folders.
# A folder with headers only becomes an interface library. New files are picked up at build time,
# so adding a class never means editing a CMakeLists file.
function(zt_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    set(sources "")
    foreach(dir ${ARG_UNPARSED_ARGUMENTS})
        file(GLOB dir_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
        list(APPEND sources ${dir_sources})
    endforeach()
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}")
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# zt_test(NAME DIR [DEPS ...]): one GoogleTest program from the .cpp files of one test folder.
# Every file of it is compiled with tests/Support/Printers.h included first: GoogleTest chooses
# how to print a type where its templates are instantiated, so each file must see the same
# printers (else one file prints ZT::WString as bytes, and two files define one template
# differently). The printers' code is in zt_test_support (tests/CMakeLists.txt).
#
# LABELS puts every case of the program under those ctest labels (ctest -L <label>), and the program
# into the build target tests-<label>, so that a build folder can build and run one group alone.
function(zt_test name dir)
    cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} zt_test_support GTest::gtest GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}")
    target_compile_options(${name} PRIVATE -include "${CMAKE_SOURCE_DIR}/tests/Support/Printers.h")
    set(properties TIMEOUT 300)
    if(ARG_LABELS)
        list(APPEND properties LABELS "${ARG_LABELS}")
        foreach(label ${ARG_LABELS})
            if(NOT TARGET tests-${label})
                add_custom_target(tests-${label})
            endif()
            add_dependencies(tests-${label} ${name})
        endforeach()
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${properties})
endfunction()

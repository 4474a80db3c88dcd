# SPDX-License-Identifier: MIT
# GoogleTest as the system has it; a cross build finds none for its target,
# but Debian's libgtest-dev ships the sources, which are then compiled for
# the target (the tests run under the toolchain's emulator).
find_package(GTest QUIET)
if(NOT GTest_FOUND)
    find_path(TAPSMITH_GTEST_SOURCE_DIR CMakeLists.txt PATHS /usr/src/googletest NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH)
    if(NOT TAPSMITH_GTEST_SOURCE_DIR)
        message(FATAL_ERROR "GoogleTest not found: install libgtest-dev")
    endif()
    set(INSTALL_GTEST OFF)
    set(BUILD_GMOCK OFF)
    add_subdirectory(${TAPSMITH_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
endif()
include(GoogleTest)

# A unit-test program: discovered by CTest, each test requiring the coverage
# fixture (only a coverage build defines its cleanup, the summary, which
# then runs after all of them).
function(tapsmith_unit_tests target)
    add_executable(${target} ${ARGN})
    target_link_libraries(${target} PRIVATE GTest::gtest_main tapsmith_arithmetic)
    tapsmith_warnings(${target})
    if(CMAKE_CROSSCOMPILING)
        # Under an emulator every process start is slow: one run of the
        # whole program rather than one per test.
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED coverage)
    else()
        gtest_discover_tests(${target} PROPERTIES FIXTURES_REQUIRED coverage)
        # Parameterised cases need names and printable rows of their own:
        # without, GoogleTest shows a row's bytes, padding included, and the
        # names and logs change from run to run.
        add_test(NAME ${target}.case_names
                 COMMAND sh -c "! \"$0\" --gtest_list_tests | grep -E 'byte object|/[0-9]+( |$)'"
                         $<TARGET_FILE:${target}>)
    endif()
endfunction()

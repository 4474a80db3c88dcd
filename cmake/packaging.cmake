# SPDX-License-Identifier: MIT
# cpack --preset release: three Debian packages, one per install component
# (the programs in `tapsmith`, the development files in `libtapsmith-dev`,
# the Python module in `python3-tapsmith`), and a tarball of the whole
# installed tree.
set(CPACK_PACKAGE_NAME tapsmith)
set(CPACK_PACKAGE_VENDOR "tapsmith developers")
set(CPACK_PACKAGE_CONTACT "tapsmith developers <dev@tapsmith.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tapsmith dev)
if(TARGET tapsmith_python)
    list(APPEND CPACK_COMPONENTS_ALL python)
endif()
# The tarball holds everything; the .deb files one component each.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_TAPSMITH_PACKAGE_NAME tapsmith)
set(CPACK_DEBIAN_TAPSMITH_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TAPSMITH_DESCRIPTION
    "integer and power-of-two Gaussian filter taps
tapsmith derives integer approximations of a Gaussian smoothing filter
for hardware and fixed-point image pipelines: integer taps scaled so
that the first is 1, the 2-D integer mask, the same mask rounded to
powers of two, their normalization factors, relative errors and
differences. tapsmith-fixed gives the taps that sum to exactly 2^B,
with their error and accumulator widths, as text, JSON, C,
SystemVerilog or VHDL.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtapsmith-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "Gaussian filter tap library for C++ (development files)
The kernel behind tapsmith: pure functions that sample a Gaussian,
normalise it, scale it to integer taps, round masks to powers of two
and find taps that sum to exactly 2^B. This package holds the C++17
header, the static library, a CMake package (tapsmith::kernel) and a
pkg-config file.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tapsmith)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# shlibdeps adds the C and C++ runtimes; the interpreter and numpy are ours to name.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${TAPSMITH_PYTHON_DEPENDS}")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "Gaussian filter taps and golden-model filter for Python testbenches
The tapsmith module gives Python the code behind tapsmith and
tapsmith-fixed: the integer taps that sum to exactly 2^B, their error
figures as tapsmith-fixed's JSON output has them, the report, and the
exact fixed-point filter on numpy uint8 and uint16 images, to check a
hardware core's output frames against.")

set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake)

include(CPack)

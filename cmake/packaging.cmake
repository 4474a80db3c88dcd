# A Debian package and a tarball of the installed tree (cpack --preset release).
set(CPACK_PACKAGE_NAME tapsmith)
set(CPACK_PACKAGE_VENDOR "tapsmith developers")
set(CPACK_PACKAGE_CONTACT "tapsmith developers <dev@tapsmith.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "tapsmith derives integer approximations of a Gaussian smoothing filter
for hardware and fixed-point image pipelines: integer taps scaled so that
the first is 1, the 2-D integer mask, the same mask rounded to powers of
two, their normalization factors, relative errors and differences. The
package holds the program, its man page, and the kernel library with its
header, CMake package and pkg-config file.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

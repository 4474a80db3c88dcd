# SPDX-License-Identifier: MIT
# What `cmake --install` lays down, in components that become the Debian
# packages: `tapsmith` (the programs, their man pages, the licence and
# changelog), `dev` (the header, the library, a CMake package, find_package
# (tapsmith) giving tapsmith::kernel, and a pkg-config file) and, with
# TAPSMITH_PYTHON, `python` (the module and its stub, from python/).
include(CMakePackageConfigHelpers)

set(TAPSMITH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tapsmith)

if(TAPSMITH_BUILD_PROGRAMS)
    install(TARGETS tapsmith tapsmith-fixed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tapsmith)
    install(FILES ${TAPSMITH_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tapsmith)
    # The filter cores, for users to add to their own designs.
    install(FILES hdl/tapsmith_blur.sv hdl/tapsmith_blur.vhd DESTINATION ${CMAKE_INSTALL_DATADIR}/tapsmith/hdl
            COMPONENT tapsmith)
endif()

install(TARGETS tapsmith_kernel EXPORT tapsmithTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT tapsmith NAMELINK_COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY kernel/include/tapsmith DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT tapsmithTargets NAMESPACE tapsmith:: FILE tapsmithTargets.cmake
        DESTINATION ${TAPSMITH_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(cmake/tapsmithConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tapsmithConfig.cmake
                              INSTALL_DESTINATION ${TAPSMITH_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tapsmithConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tapsmithConfig.cmake ${PROJECT_BINARY_DIR}/tapsmithConfigVersion.cmake
        DESTINATION ${TAPSMITH_CMAKE_DIR} COMPONENT dev)

# The static library needs libm and the threads library on the consumer's
# link line; a shared one carries the dependencies itself.
if(BUILD_SHARED_LIBS)
    set(TAPSMITH_PC_LIBS "")
    set(TAPSMITH_PC_LIBS_PRIVATE "-lm -pthread")
else()
    set(TAPSMITH_PC_LIBS " -lm -pthread")
    set(TAPSMITH_PC_LIBS_PRIVATE "")
endif()
file(RELATIVE_PATH TAPSMITH_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TAPSMITH_PC_TO_PREFIX "${TAPSMITH_PC_TO_PREFIX}")
configure_file(cmake/tapsmith.pc.in ${PROJECT_BINARY_DIR}/tapsmith.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tapsmith.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Every Debian package carries the licence and the changelog in its own
# documentation directory.
find_program(TAPSMITH_GZIP gzip REQUIRED)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND ${TAPSMITH_GZIP} -9nc ${PROJECT_SOURCE_DIR}/cmake/deb/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/deb/changelog)
add_custom_target(tapsmith_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
set(tapsmith_doc_components tapsmith dev)
if(TARGET tapsmith_python)
    list(APPEND tapsmith_doc_components python)
endif()
foreach(component ${tapsmith_doc_components})
    set(package tapsmith)
    if(component STREQUAL "dev")
        set(package libtapsmith-dev)
    elseif(component STREQUAL "python")
        set(package python3-tapsmith)
    endif()
    install(FILES cmake/deb/copyright ${PROJECT_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

# What `cmake --install` lays down: the program, its man page, the kernel
# library with its header, a CMake package (find_package(tapsmith) gives
# tapsmith::kernel) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(TAPSMITH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tapsmith)

install(TARGETS tapsmith RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/tapsmith.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS tapsmith_kernel EXPORT tapsmithTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY kernel/include/tapsmith DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tapsmithTargets NAMESPACE tapsmith:: FILE tapsmithTargets.cmake
        DESTINATION ${TAPSMITH_CMAKE_DIR})

configure_package_config_file(cmake/tapsmithConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tapsmithConfig.cmake
                              INSTALL_DESTINATION ${TAPSMITH_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tapsmithConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tapsmithConfig.cmake ${PROJECT_BINARY_DIR}/tapsmithConfigVersion.cmake
        DESTINATION ${TAPSMITH_CMAKE_DIR})

file(RELATIVE_PATH TAPSMITH_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TAPSMITH_PC_TO_PREFIX "${TAPSMITH_PC_TO_PREFIX}")
configure_file(cmake/tapsmith.pc.in ${PROJECT_BINARY_DIR}/tapsmith.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tapsmith.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# SPDX-License-Identifier: MIT
# Run by cpack for each generator. Each Debian package has a synopsis of its
# own in its description's first line, so the shared summary (which CPack
# would put in front of it) stays out of the .deb files.
if(CPACK_GENERATOR STREQUAL "DEB")
    unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
    # Without these CPack still builds the packages, but with no Depends
    # line: packages that install anywhere and then fail to run. They are
    # looked up as dpkg-shlibdeps itself runs its helpers, on PATH.
    foreach(tool IN ITEMS dpkg-shlibdeps file)
        find_program(tapsmith_package_tool ${tool} NO_CACHE NO_DEFAULT_PATH PATHS ENV PATH)
        if(NOT tapsmith_package_tool)
            message(FATAL_ERROR "cpack: the Debian packages' dependencies need '${tool}', which is not on PATH: "
                                "apt-get install dpkg-dev file")
        endif()
    endforeach()
endif()

# SPDX-License-Identifier: MIT
# Run by cpack for each generator. Each Debian package has a synopsis of its
# own in its description's first line, so the shared summary (which CPack
# would put in front of it) stays out of the .deb files.
if(CPACK_GENERATOR STREQUAL "DEB")
    unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()

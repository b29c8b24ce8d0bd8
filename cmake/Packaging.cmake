# The Debian package, made by CPack from the install rules:
#   cmake --preset deb && cmake --build --preset deb && (cd build/deb && cpack -G DEB)
# gives build/deb/tarvix_<version>_amd64.deb. scripts/check-deb.sh builds it and checks it with
# lintian and in a fresh Debian 12 root.
include(GNUInstallDirs)

# What Debian's policy wants beside the program: the copyright file, the changelog and the
# manual page, the last two compressed without a time stamp.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tarvix)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging)
add_custom_command(
  OUTPUT ${gz}/changelog.gz ${gz}/tarvix.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${gz}
  COMMAND gzip -9nc ${packaging}/deb/changelog > ${gz}/changelog.gz
  COMMAND gzip -9nc ${packaging}/tarvix.1 > ${gz}/tarvix.1.gz
  DEPENDS ${packaging}/deb/changelog ${packaging}/tarvix.1
  VERBATIM)
add_custom_target(tarvix_docs ALL DEPENDS ${gz}/changelog.gz ${gz}/tarvix.1.gz)
install(FILES ${packaging}/deb/copyright ${gz}/changelog.gz DESTINATION ${doc_dir})
install(FILES ${gz}/tarvix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(TARVIX_DEB_MAINTAINER "Tarvix maintainers <maintainers@tarvix.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME tarvix)
set(CPACK_PACKAGE_VENDOR "Tarvix")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARVIX_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hosts file editor and batch ping")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvix shows the system hosts file as one row per line, with a box to comment
a line out and a box to drop it, and saves it through polkit where the user may
not write it. Its second tab pings a queue of names or addresses at once, each
into a file of its own in a folder of the day.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVIX_DEB_MAINTAINER})
# The Qt libraries and the C++ runtime come from dpkg-shlibdeps; the rest the program finds
# at run time: Qt's X11 platform plugin, a font with the Chinese captions, ping, xdg-open for
# the editor and the file browser, and pkexec for saving the hosts file.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-wqy-microhei, iputils-ping, xdg-utils, pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The polkit action names the helper by its installed path, so the package must be built with
# the prefix it installs to (the deb preset). This is checked when cpack runs.
set(CPACK_TARVIX_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackCheck.cmake)
include(CPack)

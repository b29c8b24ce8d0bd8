# Run by cpack for every generator (CPACK_PROJECT_CONFIG_FILE). A Debian package installs into
# /usr, and the polkit action inside it names /usr/libexec/tarvix/tarvix-hosts-helper only
# when the build was configured for that prefix.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_TARVIX_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "This build installs into ${CPACK_TARVIX_INSTALL_PREFIX}; the Debian package "
                      "needs /usr. Build it with: cmake --preset deb && cmake --build --preset deb "
                      "&& (cd build/deb && cpack -G DEB)")
endif()
# The Windows installer is named apart from the zip made from the same files.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_TARVIX_FILE_NAME}-setup)
endif()

# The Windows installer and the portable zip, made by CPack from the install rules:
#   cmake --build --preset windows --target package
# gives build/windows/Tarvix-<version>-win64-setup.exe (NSIS) and Tarvix-<version>-win64.zip.
# The install rules hold Tarvix.exe (stripped) and README.txt. The installer puts them
# into C:\Program Files\Tarvix, writes tarvix-installed.txt beside them (an installed copy
# keeps its files in %APPDATA%\tarvix), a Start-menu entry and the entry under "Apps &
# features"; the zip is a folder with the two files alone, a portable copy.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)

set(CPACK_PACKAGE_NAME Tarvix)
set(CPACK_PACKAGE_VENDOR "Tarvix")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hosts file editor and batch ping")
set(CPACK_PACKAGE_FILE_NAME Tarvix-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tarvix)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_STRIP_FILES ON)
# Our own installer script (cmake/nsis/NSIS.template.in): a 64-bit installer that Wine's 64-bit
# loader runs as Windows does, into Program Files rather than Program Files (x86), with the
# registry's 64-bit view.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/app/icons/tarvix.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/app/icons/tarvix.ico)
# The installer's file name, set per generator by cmake/CPackCheck.cmake.
set(CPACK_TARVIX_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackCheck.cmake)
include(CPack)

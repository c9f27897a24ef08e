# cpack -G NSIS: Docuflume-<version>-setup.exe, built with NSIS's makensis (which runs on
# Linux too). It installs into Program Files, adds a Start-menu entry and an uninstaller,
# and takes /S for a silent install or removal.
set(CPACK_PACKAGE_NAME Docuflume)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME Docuflume-${PROJECT_VERSION}-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Docuflume)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Docuflume)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for a 64-bit program: it sees the 64-bit Program Files and registry.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME Docuflume)
set(CPACK_NSIS_DISPLAY_NAME Docuflume)
set(CPACK_NSIS_INSTALLED_ICON_NAME docuflume.exe)
set(CPACK_NSIS_URL_INFO_ABOUT "${DOCUFLUME_HOME_PAGE}")
set(CPACK_NSIS_CONTACT "${DOCUFLUME_SUPPORT_EMAIL}")
# The Start-menu entry: the program and its name there.
set(CPACK_PACKAGE_EXECUTABLES docuflume Docuflume)
# An earlier installation is removed first, so that files it had and this one has not go.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

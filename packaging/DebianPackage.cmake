# The Debian package of the client: `cpack -G DEB` in a configured build folder
# builds what is out of date and writes velmoscreen_<version>_<arch>.deb there
# (scripts/package.sh does it in a folder without tests). What goes into it is
# the install rules of packaging/CMakeLists.txt.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/SettingsDir.cmake)

# The package installs to /usr, so its settings are in /etc/velmoscreen: the
# one file an administrator edits, kept across upgrades.
velmo_settings_dir(/usr "${CMAKE_INSTALL_SYSCONFDIR}" packageSettingsDir)
set(VELMO_PACKAGE_MAINTAINER "VelmoScreen developers <velmoscreen@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmoscreen)
set(CPACK_PACKAGE_VENDOR "VelmoScreen developers")
set(CPACK_PACKAGE_CONTACT "${VELMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote screen and keypad of a VELMO control unit")
# CPack puts the summary before it, indents it for the control file and turns
# its empty line into the paragraph mark there.
set(CPACK_PACKAGE_DESCRIPTION "VelmoScreen connects over TCP to a VELMO control unit, or to an emulator of
it, and shows the unit's two character screens live in a small window: the
8-row main screen and the 4-row message screen, with blinking characters and
alarms in red. Keys pressed in the window go to the unit as its own key names.

The unit's address is set for all users in /etc/velmoscreen/VelmoScreen.ini;
without it the client asks at start-up.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELMO_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
else()
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageFolderModes.cmake)

# Only the client's component: the project has no other install rules today,
# and none added later for a tool or a test can slip into the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};velmoscreen;/")
set(CPACK_STRIP_FILES ON)
# Whatever prefix the build folder was configured with, the package's files go
# under /usr. The conffile's absolute place in /etc needs a staging root, so
# that it lands in the package and never on the build machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(conffiles ${CMAKE_BINARY_DIR}/packaging/conffiles)
file(WRITE ${conffiles} "${packageSettingsDir}/VelmoScreen.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${conffiles})

include(CPack)

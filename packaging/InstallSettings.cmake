# Install-time part of the client's install rules: the settings file, and the
# link to it beside the client. It runs when installing rather than when
# configuring because only then is the prefix known: `cmake --install
# --prefix DIR` and CPack replace the configured one.
#
# Set by the install rule that runs it: velmoSettingsFile (the file to
# install), velmoSysconfDir (CMAKE_INSTALL_SYSCONFDIR) and velmoClientDir (the
# client's folder, relative to the prefix).

include(${CMAKE_CURRENT_LIST_DIR}/SettingsDir.cmake)

get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
velmo_settings_dir("${prefix}" "${velmoSysconfDir}" settingsDir)

# file(INSTALL) puts DESTDIR in front by itself; file(CREATE_LINK) below does not.
file(INSTALL "${velmoSettingsFile}" DESTINATION "${settingsDir}"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The client looks for its settings beside its executable; the link names the
# file just installed, as the installed system sees it.
set(link "$ENV{DESTDIR}${prefix}/${velmoClientDir}/VelmoScreen.ini")
get_filename_component(settingsName "${velmoSettingsFile}" NAME)
message(STATUS "Installing: ${link} -> ${settingsDir}/${settingsName}")
file(REMOVE "${link}")
file(CREATE_LINK "${settingsDir}/${settingsName}" "${link}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")

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

# The settings file is the administrator's once it is there: installing again,
# say an update from a newer build, keeps it as it is, as dpkg keeps an edited
# conffile. Only a place without one (a new prefix, CPack's empty staging
# folder) gets the template. file(INSTALL) puts DESTDIR in front by itself;
# the test for an existing file and file(CREATE_LINK) below do not. The
# manifest, like CMake's own entries, names files as the installed system
# sees them.
get_filename_component(settingsName "${velmoSettingsFile}" NAME)
set(settings "${settingsDir}/${settingsName}")
if(EXISTS "$ENV{DESTDIR}${settings}")
    message(STATUS "Keeping: $ENV{DESTDIR}${settings}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${settings}")
else()
    file(INSTALL "${velmoSettingsFile}" DESTINATION "${settingsDir}"
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

# The client looks for its settings beside its executable; the link names the
# settings file as the installed system sees it.
set(link "${prefix}/${velmoClientDir}/VelmoScreen.ini")
message(STATUS "Installing: $ENV{DESTDIR}${link} -> ${settings}")
file(REMOVE "$ENV{DESTDIR}${link}")
file(CREATE_LINK "${settings}" "$ENV{DESTDIR}${link}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")

# Where an installation to PREFIX keeps the client's settings: the GNU rule for
# configuration files, the one GNUInstallDirs applies to
# CMAKE_INSTALL_FULL_SYSCONFDIR. A system installation (prefix /usr) keeps
# them in /etc, any other prefix under itself, so that installing into a
# folder never touches the machine's own settings. An absolute
# CMAKE_INSTALL_SYSCONFDIR is taken as it stands.
#
# Used when configuring (for the Debian package, always installed to /usr) and
# when installing (for the prefix that `cmake --install --prefix` gives), which
# is why it is a file of its own.
function(velmo_settings_dir prefix sysconfdir result)
    if(IS_ABSOLUTE "${sysconfdir}")
        set(dir "${sysconfdir}")
    elseif(prefix MATCHES "^/usr/?$")
        set(dir "/${sysconfdir}")
    else()
        string(REGEX REPLACE "/+$" "" prefix "${prefix}")
        set(dir "${prefix}/${sysconfdir}")
    endif()
    set(${result} "${dir}/velmoscreen" PARENT_SCOPE)
endfunction()

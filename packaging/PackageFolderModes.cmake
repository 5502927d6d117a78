# Run by CPack on its staging folder just before it makes the Debian package.
# The folders that installing there made have whatever mode the umask of the
# machine building the package left: CMake's default folder permissions are
# masked by it too, so under umask 077 they come out 0700, and only root could
# start the installed client. In the package every folder is 0755.

file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
set(folders)
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        list(APPEND folders "${entry}")
    endif()
endforeach()
if(folders)
    file(CHMOD ${folders} DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

# Cross-building for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread
# model, whose runtime the toolkit is built with). Point CMAKE_PREFIX_PATH at
# a Qt built for the same target (scripts/windows-qt.sh makes one). Test
# programs run through Wine when it is there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMO_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMO_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMO_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMO_MINGW_TARGET}-windres)

# Libraries and headers only from the target's own folders and the given
# Qt; programs (moc, uic, rcc) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMO_MINGW_TARGET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(VELMO_WINE NAMES wine wine64)
if(VELMO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMO_WINE})
endif()

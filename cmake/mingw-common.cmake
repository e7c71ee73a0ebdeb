# What both mingw-w64 toolchain files share; they set MINGW_TRIPLE (the compilers' prefix) and
# MINGW_WINE (the Wine loader of that width) first. Where Wine is installed, the .exe files are
# run under it (CMAKE_CROSSCOMPILING_EMULATOR); building, a release included, needs no Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Debian's wine64 keeps its loader out of PATH.
find_program(WINE_EXECUTABLE ${MINGW_WINE} PATHS /usr/lib/wine)
if(WINE_EXECUTABLE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()

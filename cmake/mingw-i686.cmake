# Cross-builds the Windows program for 32-bit x86 with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

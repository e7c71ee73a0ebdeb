# Cross-builds the program's code for 64-bit Windows with mingw-w64: the device module as a
# library for 64-bit programs, and the test programs that run it under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MINGW_WINE wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

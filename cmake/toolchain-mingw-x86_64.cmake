# Cross-compiling for Windows with mingw-w64 (x86_64).
set(MINGW_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

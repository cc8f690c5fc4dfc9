# Cross-compiling for Windows with mingw-w64 (i686).
set(MINGW_TARGET i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

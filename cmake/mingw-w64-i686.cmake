# Cross-compiles the 32-bit Windows build (the product) with mingw-w64.
set(AMBERVOX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

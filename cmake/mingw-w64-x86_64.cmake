# Cross-compiles the 64-bit Windows test build with mingw-w64: the same code
# and tests as the 32-bit product, for machines that cannot run 32-bit
# programs (its tests run under 64-bit Wine).
set(AMBERVOX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

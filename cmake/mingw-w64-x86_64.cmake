# Cross-compiles the 64-bit Windows test build with mingw-w64: the same code
# and tests as the 32-bit product, for machines that cannot run 32-bit
# programs (their tests run under 64-bit Wine). The -posix compilers are
# required: the -win32 threading variant has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows test binaries run under Wine, in the prefix that tools/wine-prefix.sh
# prepares; run ctest through tools/wine-ctest.sh, which sets WINEPREFIX.
# wine-run.sh picks the 64-bit loader from AMBERVOX_WINE_ARCH (CMakeLists.txt).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

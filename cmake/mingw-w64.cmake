# The mingw-w64 cross build shared by the toolchain files, for the
# processor in AMBERVOX_MINGW_PROCESSOR (i686 or x86_64). The -posix
# compilers are required: the -win32 threading variant has no std::thread
# or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${AMBERVOX_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${AMBERVOX_MINGW_PROCESSOR}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${AMBERVOX_MINGW_PROCESSOR}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${AMBERVOX_MINGW_PROCESSOR}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${AMBERVOX_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows test binaries run under Wine, in the prefix that tools/wine-prefix.sh
# prepares; run ctest through tools/wine-ctest.sh, which sets WINEPREFIX.
# wine-run.sh picks the loader from AMBERVOX_WINE_ARCH (CMakeLists.txt).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

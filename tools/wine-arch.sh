# Chooses the Wine programs for the Windows build under test. Sourced (it
# reads no arguments: a sourced file would see its caller's):
#   . tools/wine-arch.sh
# The kind comes from AMBERVOX_WINE_ARCH (win32 or win64, set by the tests'
# CMake and by tools/wine-ctest.sh from the build folder), else win32.
# Exports AMBERVOX_WINE_ARCH, WINEARCH (for a new prefix), AMBERVOX_WINE (the
# loader to run programs with) and AMBERVOX_WINESERVER.
#
# win32: the `wine` and `wineserver` wrappers, which pick the 32-bit loader.
# win64: the 64-bit loader and server called directly, since the wrapper picks
# the 32-bit loader whenever it is installed, even where the machine cannot
# run it. WINELOADER and WINESERVER make Wine start its own helper processes
# and server with the same pair. tests/e2e/ambervox_host.py mirrors this.
AMBERVOX_WINE_ARCH=${AMBERVOX_WINE_ARCH:-win32}
case "$AMBERVOX_WINE_ARCH" in
  win32)
    AMBERVOX_WINE=wine
    AMBERVOX_WINESERVER=wineserver
    unset WINELOADER WINESERVER
    ;;
  win64)
    AMBERVOX_WINE=/usr/lib/wine/wine64
    AMBERVOX_WINESERVER=/usr/lib/wine/wineserver64
    export WINELOADER=$AMBERVOX_WINE WINESERVER=$AMBERVOX_WINESERVER
    ;;
  *)
    echo "wine-arch: unknown Wine kind '$AMBERVOX_WINE_ARCH' (win32 or win64)" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
export AMBERVOX_WINE_ARCH AMBERVOX_WINE AMBERVOX_WINESERVER WINEARCH=$AMBERVOX_WINE_ARCH

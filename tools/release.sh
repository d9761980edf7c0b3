#!/usr/bin/env bash
# Builds the Windows release:
#   tools/release.sh [--build-dir DIR] [--dist DIR] [--no-build]
# Builds gen_ambervox.dll with the win32 preset's settings (Release) in
# DIR (default build/win32) and makes, in the dist folder (default dist/):
#   ambervox-<version>-win32.zip   the DLL, the default skin, a sample
#                                  plugin.ini, the guides and README.txt
#   ambervox-<version>-setup.exe   the NSIS installer (installer/ambervox.nsi.in)
# The version is the project's version in CMakeLists.txt. --no-build packs
# what DIR already holds (the installer test uses it on its own build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build=$root/build/win32
dist=$root/dist
do_build=1
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build=${2:?--build-dir needs a folder}; shift 2 ;;
    --dist) dist=${2:?--dist needs a folder}; shift 2 ;;
    --no-build) do_build=0; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--dist DIR] [--no-build]" >&2; exit 2 ;;
  esac
done
mkdir -p "$build" "$dist"
build=$(cd "$build" && pwd)
dist=$(cd "$dist" && pwd)

for tool in makensis zip i686-w64-mingw32-g++-posix i686-w64-mingw32-strip; do
  if ! command -v "$tool" >/dev/null; then
    [ "$do_build" -eq 1 ] || { echo "release: $tool is missing (run tools/setup.sh)" >&2; exit 1; }
    bash "$root/tools/setup.sh"
    break
  fi
done

if [ "$do_build" -eq 1 ]; then
  echo "release: building gen_ambervox.dll in $build"
  log=$build/release-build.log
  if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" &&
         cmake --build "$build" -j2 --target gen_ambervox; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "release: the build failed (whole log: $log)" >&2
    exit 1
  fi
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
dll=$build/src/plugin/gen_ambervox.dll
nsi=$build/installer/ambervox.nsi
for f in "$dll" "$nsi"; do
  [ -f "$f" ] || { echo "release: $f is missing; build the win32 preset in $build first" >&2; exit 1; }
done
[ -n "$version" ] || { echo "release: no project version in $build/CMakeCache.txt" >&2; exit 1; }

name=ambervox-$version-win32
zip_file=$dist/$name.zip
setup_file=$dist/ambervox-$version-setup.exe
work=$(mktemp -d "${TMPDIR:-/tmp}/ambervox-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/$name

# The zip's layout: Plugins\ mirrors the player's Plugins folder (what the
# installer puts there), plugin.ini is the sample to copy beside the DLL.
mkdir -p "$stage/Plugins/ambervox/skin" "$stage/docs"
i686-w64-mingw32-strip --strip-unneeded -o "$stage/Plugins/gen_ambervox.dll" "$dll"
for f in "$root"/skins/default/*; do
  # The skin folder is the web root: a settings file never goes there.
  [ "$(basename "$f")" = plugin.ini ] || cp -R "$f" "$stage/Plugins/ambervox/skin/"
done
cp "$root/installer/plugin.ini" "$stage/plugin.ini"
for guide in guide.en.md guide.ja.md; do
  [ -f "$root/docs/$guide" ] || { echo "release: docs/$guide is missing" >&2; exit 1; }
  cp "$root/docs/$guide" "$stage/docs/"
done
if compgen -G "$root/docs/images/*.png" >/dev/null; then
  mkdir -p "$stage/docs/images"
  cp "$root"/docs/images/*.png "$stage/docs/images/"
fi
# README.txt for Notepad: UTF-8 with a byte order mark, CRLF lines.
{ printf '\xef\xbb\xbf'; sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/installer/README.txt"; } \
  >"$stage/README.txt"

rm -f "$zip_file" "$setup_file"
(cd "$work" && zip -q -r -X "$zip_file" "$name")

if (cd "$stage" && find . -name '*[$"\`]*' | grep -q .); then
  echo "release: a staged file name holds a character the installer script cannot quote" >&2
  exit 1
fi
# What the uninstaller deletes: the skin and docs files by name, then their
# folders (deepest first), which go only when nothing else is left in them.
files_nsh=$work/files.nsh
{
  echo '!macro AMBERVOX_DELETE_INSTALLED_FILES'
  (cd "$stage/Plugins/ambervox" && find skin -type f | LC_ALL=C sort) |
    while IFS= read -r f; do printf '  Delete "$INSTDIR\\%s"\n' "${f//\//\\}"; done
  (cd "$stage" && find docs -type f | LC_ALL=C sort) |
    while IFS= read -r f; do printf '  Delete "$INSTDIR\\%s"\n' "${f//\//\\}"; done
  { (cd "$stage/Plugins/ambervox" && find skin -type d); (cd "$stage" && find docs -type d); } |
    awk -F/ '{ print NF "\t" $0 }' | LC_ALL=C sort -rn | cut -f2- |
    while IFS= read -r d; do printf '  RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"; done
  echo '!macroend'
} >"$files_nsh"
log=$work/makensis.log
if ! makensis -INPUTCHARSET UTF8 -V2 -WX -DSTAGE="$stage" -DFILE_LIST="$files_nsh" \
       -DOUTFILE="$setup_file" "$nsi" >"$log" 2>&1; then
  cat "$log" >&2
  echo "release: makensis failed" >&2
  exit 1
fi

echo "release: $zip_file"
echo "release: $setup_file"

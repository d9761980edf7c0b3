#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine.
# Idempotent: packages already present are skipped, and the Japanese locale
# is generated only once. Quiet unless something fails.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev lld pkg-config
      zlib1g-dev libicu-dev libgtest-dev libgmock-dev libbenchmark-dev
      mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
      wine wine32:i386 wine64 xvfb xauth locales fonts-ipafont-gothic
      python3-pytest curl
      nsis zip chromium chromium-driver python3-selenium
      fonts-nanum fonts-noto-color-emoji
      imagemagick x11-apps)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm from Debian only where no npm is installed: a Node.js from elsewhere
# (NodeSource's package) brings its own npm and conflicts with Debian's.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/ambervox-apt.log 2>&1 ||
      { tail -n 40 /tmp/ambervox-apt.log; exit 1; }
  fi
fi

# Wine reads its ANSI code page from the locale; without a generated
# ja_JP.UTF-8 it silently stays on code page 1252.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 >/dev/null 2>&1 || true
fi

# axe-core 4, which the browser tests run on the default skin's pages; from
# the npm registry, into a cache of this user's (AMBERVOX_AXE_DIR, as the
# browser tests read it).
axe_dir=${AMBERVOX_AXE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ambervox/npm}
if [ ! -f "$axe_dir/node_modules/axe-core/axe.min.js" ]; then
  mkdir -p "$axe_dir"
  npm install --prefix "$axe_dir" --no-audit --no-fund --silent axe-core@4 >/tmp/ambervox-npm.log 2>&1 ||
    { tail -n 40 /tmp/ambervox-npm.log; exit 1; }
fi

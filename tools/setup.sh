#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine.
# Idempotent: packages already present are skipped, and the Japanese locale
# is generated only once. Quiet unless something fails.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

pkgs=(cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev lld pkg-config
      zlib1g-dev libicu-dev libgtest-dev libgmock-dev libbenchmark-dev
      mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
      wine wine32:i386 wine64 xvfb xauth locales fonts-ipafont-gothic
      python3-pytest curl gdb
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

# 32-bit Windows programs (the product DLL's tests, the installer) where
# the kernel cannot run 32-bit x86 code ("IA-32 emulation off"): qemu-user
# from bookworm-backports runs the 32-bit Wine loader, registered system-wide
# as the kernel's handler for i386 ELF programs, so every process Wine starts
# goes through it too. bookworm's own qemu 7.2 is far too slow for Wine.
# Where this cannot be done it says why in one line, and the test command
# runs the 64-bit test build instead.
wine32=/usr/lib/wine/wine
runs_32bit() { timeout 120 "$wine32" --version </dev/null >/dev/null 2>&1; }
emulate_32bit() {
  local binfmt=/proc/sys/fs/binfmt_misc handler=/usr/local/libexec/qemu-binfmt/i386-binfmt-P
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: 32-bit programs cannot run here and registering an emulator needs root"; return 1
  fi
  if ! dpkg-query -W -f='${Status}' qemu-user 2>/dev/null | grep -q 'install ok installed' ||
     ! qemu-i386 --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
    local list=/etc/apt/sources.list.d/ambervox-backports.sources uri
    if [ ! -f "$list" ]; then
      # The same archive as the machine's own Debian entries.
      uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -m 1 '/debian/\?$')
      printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
        "${uri:-http://deb.debian.org/debian}" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
      apt-get update -qq >/dev/null
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t bookworm-backports \
      qemu-user >/tmp/ambervox-apt.log 2>&1 || { echo "setup: qemu-user from bookworm-backports could not be installed"; return 1; }
  fi
  if ! mountpoint -q "$binfmt" && ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    echo "setup: 32-bit programs cannot run here and binfmt_misc cannot be mounted"; return 1
  fi
  mkdir -p "${handler%/*}"
  ln -sf /usr/bin/qemu-i386 "$handler"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    # Magic and mask of an i386 ELF executable; P keeps argv[0] as the
    # program gave it, O hands qemu the opened file.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$handler"':OP' \
      >"$binfmt/register" 2>/dev/null || { echo "setup: the i386 handler could not be registered in binfmt_misc"; return 1; }
  fi
  runs_32bit || { echo "setup: 32-bit programs still cannot run through qemu-i386"; return 1; }
}
if [ -x "$wine32" ] && ! runs_32bit; then
  emulate_32bit || true
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

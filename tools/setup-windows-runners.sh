#!/usr/bin/env bash
# Makes this machine run the Windows programs' tests under Wine: the 64-bit
# program directly, the 32-bit one, whose 32-bit code the kernel refuses,
# through Wine's 32-bit loader under qemu's user-mode emulator. As root;
# safe to run again. What it changes on the machine:
#   - Debian's i386 architecture is enabled, and qemu-user-static,
#     wine32:i386 and wine32-preloader:i386 are installed, from the main
#     suite where the security suite's i386 index is out of step, with the
#     amd64 twins of the libraries they need brought to the same versions;
#   - binfmt_misc is mounted if it is not, and an i386 ELF handler for
#     /usr/bin/qemu-i386-static (flag F) is registered, until the next boot;
#   - a 64-bit and a 32-bit Wine prefix are made in /var/cache/obj2xml
#     (wine64-prefix, wine32-prefix), once;
#   - each prefix's Wine server is started with its services, and stays
#     until it has had no program to run for 30 minutes, so that a test
#     run does not wait for the services' start (which takes seconds, and
#     under the emulator tens of seconds).
# Afterwards call 64-bit Wine as /usr/lib/wine/wine64: /usr/bin/wine then
# goes through the emulated loader.
set -euo pipefail
cache=${OBJ2XML_WINE_CACHE:-/var/cache/obj2xml}
binfmt=/proc/sys/fs/binfmt_misc

# A mirror caught in the middle of a sync fails an update; a later try may
# pass. Whatever lists it did fetch are used either way.
update_package_lists() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)" >&2
    ((try == 3)) || sleep 10
  done
  return 1
}

# Installs the packages from the main suite. A plain install fails where the
# mirror's security suite is out of step for i386 (its index rejected in the
# middle of a sync): an amd64 library installed from it, such as one wine64
# pulled in, is newer than any i386 twin, and a Multi-Arch: same pair must
# match. Each amd64 library whose i386 twin apt cannot install is brought
# back to the main suite's version, until apt finds a way or none is left.
install_from_main_suite() {
  local suite aligned=() unmet package version installed added try
  suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  for try in 1 2 3 4 5 6 7 8; do
    unmet=$(apt-get install -s -t "$suite" --allow-downgrades "$@" "${aligned[@]}" 2>&1 |
      sed -n 's/.*Depends: \([^ :]*\):i386 .*not going to be installed.*/\1/p' | sort -u || true)
    added=0
    for package in $unmet; do
      version=$(apt-cache madison "$package" | awk -F' [|] ' -v main=" $suite/main " 'index($3, main) && / amd64 / { print $2; exit }')
      installed=$(dpkg-query -W -f='${Version}' "$package:amd64" 2>/dev/null || true)
      if [ -z "$version" ] || [ -z "$installed" ] || [ "$installed" = "$version" ]; then continue; fi
      printf '%s\n' "${aligned[@]}" | grep -qxF "$package:amd64=$version" && continue
      aligned+=("$package:amd64=$version")
      added=1
    done
    ((added)) || break
  done
  echo "Installing from $suite: $* ${aligned[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t "$suite" --allow-downgrades "$@" "${aligned[@]}" >/dev/null
}

# The 32-bit runner's packages. Where neither a plain install nor one from
# the main suite can give them, only the 32-bit program's tests go: the
# test run reports them as skipped and says what to run.
install_32bit_runner() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Enabling the i386 architecture"
    dpkg --add-architecture i386
    update_package_lists || true
  fi
  local packages=(qemu-user-static wine32:i386 wine32-preloader:i386) missing=() package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  update_package_lists || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null && return 0
  echo "A plain install of the 32-bit runner failed; trying the main suite's versions" >&2
  install_from_main_suite "${missing[@]}"
}
runner32=yes
if ! install_32bit_runner; then
  runner32=
  echo "The 32-bit runner's packages cannot be installed from this machine's mirror:" \
       "the 32-bit Windows program's tests will be skipped" >&2
fi

[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ -n "$runner32" ] && [ ! -e "$binfmt/qemu-i386" ]; then
  echo "Registering qemu-i386-static for i386 ELF programs"
  # 32-bit little-endian ELF executables and shared objects of machine 3 (i386).
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
fi

# Makes the prefix once (a prefix made before wine32 was installed cannot
# load kernel32), then starts its server and services: prefix, WINEARCH, loader.
prepare() {
  local prefix=$1 arch=$2 loader=$3
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
  if [ ! -e "$prefix/.obj2xml-ready" ]; then
    echo "Making the $arch Wine prefix $prefix"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    WINEARCH=$arch "$loader" wineboot --init </dev/null
    /usr/lib/wine/wineserver -w
    touch "$prefix/.obj2xml-ready"
  fi
  /usr/lib/wine/wineserver -p1800 2>/dev/null || true  # already running: kept
  timeout 300 "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true
  echo "Ready: WINEPREFIX=$prefix $loader PROGRAM.exe"
}
prepare "$cache/wine64-prefix" win64 /usr/lib/wine/wine64
[ -z "$runner32" ] || prepare "$cache/wine32-prefix" win32 /usr/lib/wine/wine

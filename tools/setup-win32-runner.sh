#!/usr/bin/env bash
# Makes this machine run the 32-bit Windows program, whose 32-bit code the
# kernel refuses, through Wine's 32-bit loader under qemu's user-mode
# emulator. As root; safe to run again. What it changes on the machine:
#   - Debian's i386 architecture is enabled, and qemu-user-static,
#     wine32:i386 and wine32-preloader:i386 are installed;
#   - binfmt_misc is mounted if it is not, and an i386 ELF handler for
#     /usr/bin/qemu-i386-static (flag F) is registered, until the next boot;
#   - a 32-bit Wine prefix is made in $OBJ2XML_WIN32_PREFIX
#     (default /var/cache/obj2xml/wine32-prefix).
# Afterwards call 64-bit Wine as /usr/lib/wine/wine64: /usr/bin/wine then
# goes through the emulated loader.
set -euo pipefail
prefix=${OBJ2XML_WIN32_PREFIX:-/var/cache/obj2xml/wine32-prefix}
binfmt=/proc/sys/fs/binfmt_misc

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Enabling the i386 architecture"
  dpkg --add-architecture i386
  apt-get update -qq
fi
packages=(qemu-user-static wine32:i386 wine32-preloader:i386)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  echo "Registering qemu-i386-static for i386 ELF programs"
  # 32-bit little-endian ELF executables and shared objects of machine 3 (i386).
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
fi

# A prefix made before wine32 was installed cannot load kernel32: make a new one.
if [ ! -e "$prefix/.obj2xml-win32-ready" ]; then
  echo "Making the 32-bit Wine prefix $prefix"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d \
    /usr/lib/wine/wine wineboot --init </dev/null
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
  touch "$prefix/.obj2xml-win32-ready"
fi
echo "The 32-bit runner is ready: WINEPREFIX=$prefix /usr/lib/wine/wine PROGRAM.exe"

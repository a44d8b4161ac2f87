#!/usr/bin/env bash
# Builds every artefact twice from the commit at HEAD, in two clones in two
# folders, under different umasks, locales and time zones (and, as root,
# as another user the second time), and compares them byte for byte: the
# Linux programs, the .deb and the .tar.gz, both Windows programs of each
# width and their zips. Names the first that differs, and shows how with
# diffoscope where it is installed. Needs what the package and Windows
# workflows need.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artefacts=(
  release/obj2xml release/xml2obj
  release/packages/obj2xml-1.0.0-Linux.tar.gz release/packages/obj2xml_1.0.0_amd64.deb
  windows-x86/obj2xml.exe windows-x86/xml2obj.exe windows-x86/packages/obj2xml-1.0.0-windows-i686.zip
  windows-x64/obj2xml.exe windows-x64/xml2obj.exe windows-x64/packages/obj2xml-1.0.0-windows-x86_64.zip
)
build() {  # folder, umask, locale, time zone, user
  git clone -q . "$work/$1"
  local as=()
  if [ "$5" != "$(id -u)" ]; then
    chown -R "$5:$5" "$work/$1"
    as=(setpriv "--reuid=$5" "--regid=$5" --clear-groups env "HOME=$work/$1")
  fi
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  "${as[@]}" bash -c 'cd "$1" && umask "$2" && export LC_ALL=$3 TZ=$4 &&
    for preset in package windows-x86 windows-x64; do cmake --workflow --preset "$preset" || exit 1; done' \
    sh "$work/$1" "$2" "$3" "$4" >"$work/$1.log" 2>&1 || { tail -n 20 "$work/$1.log" >&2; exit 1; }
}
chmod 755 "$work"
build first 022 C.UTF-8 UTC "$(id -u)"
# As root, the second build is nobody's: CPack would otherwise record whose the files are.
second_user=$(id -u)
[ "$second_user" != 0 ] || second_user=65534
build second-folder 002 C Pacific/Chatham "$second_user"
for artefact in "${artefacts[@]}"; do
  one=$work/first/build/$artefact
  two=$work/second-folder/build/$artefact
  if ! cmp -s "$one" "$two"; then
    echo "Not reproducible: $artefact differs between two builds of the same commit" >&2
    if command -v diffoscope >/dev/null; then diffoscope "$one" "$two" >&2 || true; fi
    exit 1
  fi
  echo "$(sha256sum <"$one" | cut -d' ' -f1)  $artefact"
done
echo "Every artefact is the same, byte for byte, in both builds"

#!/usr/bin/env bash
# Builds the .deb, checks it with lintian, installs it, converts the sample with the installed
# program and compares the document with the build tree's, then removes the
# package again.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset package
deb=$(ls build/release/packages/obj2xml_*.deb)
lintian --fail-on error,warning "$deb"
# The tarball carries the licence and the README too.
listing=$(tar -tzf build/release/packages/obj2xml-*-Linux.tar.gz)
grep -q '/share/doc/obj2xml/LICENSE$' <<<"$listing"
grep -q '/share/doc/obj2xml/README.md$' <<<"$listing"
work=$(mktemp -d)
trap 'dpkg -r obj2xml >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -i "$deb"
mkdir "$work/installed" "$work/built"
cp samples/engine.dat "$work/installed/"
cp samples/engine.dat "$work/built/"
/usr/bin/obj2xml "$work/installed/engine.dat" </dev/null
build/release/obj2xml "$work/built/engine.dat" </dev/null
cmp "$work/installed/engine.xml" "$work/built/engine.xml"
/usr/bin/xml2obj "$work/installed/engine.xml" "$work/installed/rebuilt.dat" </dev/null
cmp samples/engine.dat "$work/installed/rebuilt.dat"
xmllint --noout --schema /usr/share/obj2xml/obj2xml.xsd "$work/installed/engine.xml"
for page in obj2xml xml2obj; do
  test -f "/usr/share/man/man1/$page.1.gz"
  MANPAGER=cat man "$page" >/dev/null
  zcat "/usr/share/man/man1/$page.1.gz" | groff -man -ww -z
done
test -f /usr/share/doc/obj2xml/copyright
tests/documented_commands.sh /usr/bin
dpkg -r obj2xml
test ! -e /usr/bin/obj2xml && test ! -e /usr/bin/xml2obj
# The README's install command lays out the same files.
cmake --install build/release --prefix "$work/prefix" >/dev/null
for installed in bin/obj2xml bin/xml2obj share/man/man1/obj2xml.1.gz share/man/man1/xml2obj.1.gz share/obj2xml/obj2xml.xsd share/doc/obj2xml/copyright; do
  test -f "$work/prefix/$installed"
done
echo "The installed programs convert the sample as the built ones do, and rebuild it."

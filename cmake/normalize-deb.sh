#!/bin/sh
# Gives each member of the .deb's ar archive the mode 0644, which CPack
# takes from files it wrote under the builder's umask.
set -eu
deb=$1
offset=8  # after "!<arch>\n"; each header: name 16, time 12, owner 6, group 6, mode 8, size 10, "`\n"
total=$(wc -c <"$deb")
while [ "$offset" -lt "$total" ]; do
  size=$(dd if="$deb" bs=1 skip=$((offset + 48)) count=10 2>/dev/null | tr -d ' ')
  printf '100644  ' | dd of="$deb" bs=1 seek=$((offset + 40)) conv=notrunc 2>/dev/null
  offset=$((offset + 60 + size + size % 2))
done

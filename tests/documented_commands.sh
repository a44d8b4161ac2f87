#!/usr/bin/env bash
# Runs, exactly as they are written, the commands that README.md and the man
# page show for converting files and checking documents, with the program
# found on PATH in PROGRAM_FOLDER, in a scratch tree of object files made
# from the sample. Fails when a command fails or a file is left unconverted.
# A command that needs the installed package is run only where it is
# installed (tools/check-package.sh runs this script then).
# With WINE and a Windows PROGRAM it runs instead the README's command for
# cmd, typed into Wine's cmd, beside a copy of the program.
#   documented_commands.sh PROGRAM_FOLDER
#   documented_commands.sh --windows WINE PROGRAM
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)

# Every object file in FOLDER has its whole document beside it.
all_converted() {
  local status=0 object
  while IFS= read -r -d '' object; do
    if ! tail -n 1 "${object%.dat}.xml" 2>/dev/null | tr -d '\r' | grep -qx '</object>'; then
      echo "not converted: $object" >&2
      status=1
    fi
  done < <(find "$1" -name '*.dat' -print0)
  [ "$status" = 0 ] && echo "every object file in the tree was converted"
  return "$status"
}

if [ "$1" = --windows ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  for object in engine.dat "two words.dat"; do cp "$source_dir/samples/engine.dat" "$work/$object"; done
  cp "$3" "$(dirname "$3")/xml2obj.exe" "$work/"
  command=$(sed -n 's/^ *\(for %f in .*\)$/\1/p' "$source_dir/README.md")
  rebuild=$(sed -n 's/^      \(xml2obj .*\)$/\1/p' "$source_dir/README.md")
  [ -n "$command" ] && [ -n "$rebuild" ] || { echo "README.md shows no command for cmd" >&2; exit 1; }
  echo "README.md, in cmd: $command"
  printf 'x' > "$work/refused.dat"  # its failure must not wait for a key
  (cd "$work" && printf '%s\r\nexit\r\n' "$command" | timeout 60 "$2" cmd)
  rm "$work/refused.dat"
  all_converted "$work"
  # The rebuild replaces engine.dat by a new file with the same bytes.
  echo "README.md, in cmd: $rebuild"
  before=$(stat -c %i "$work/engine.dat")
  (cd "$work" && printf '%s\r\nexit\r\n' "$rebuild" | timeout 60 "$2" cmd)
  [ "$(stat -c %i "$work/engine.dat")" != "$before" ] || { echo "not rebuilt: engine.dat" >&2; exit 1; }
  cmp "$source_dir/samples/engine.dat" "$work/engine.dat"
  exit
fi

PATH="$(cd "$1" && pwd):$PATH"
export PATH

# Indented lines of README.md that start a conversion or a rebuild, and its schema check.
readme_commands() {
  sed -n 's/^    \(find \. .*\)$/\1/p; s/^    \(\(obj2xml\|sed\|xml2obj\) .*\)$/\1/p' "$source_dir/README.md"
  grep -o '`xmllint --noout --schema schema/[^`]*`' "$source_dir/README.md" | tr -d '`'
}

# The man pages' EXAMPLES, rendered as a reader sees them.
man_commands() {
  local page
  for page in obj2xml.1 xml2obj.1; do
    groff -man -Tascii -P-cbou -rLL=300n "$source_dir/$page" |
      awk '/^EXAMPLES/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^          / { sub(/^ +/, ""); print }'
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/two words/deep" "$work/tree/tools.old" "$work/tree/schema"
for object in engine.dat "two words/loco 1.dat" "two words/deep/loco2.dat" tools.old/tram.dat; do
  cp "$source_dir/samples/engine.dat" "$work/tree/$object"
done
cp "$source_dir/schema/obj2xml.xsd" "$work/tree/schema/"

run() {  # source, command
  case "$2" in
    *"/usr/share/obj2xml/"*)
      if [ ! -e /usr/share/obj2xml/obj2xml.xsd ]; then
        echo "skipped ($1, needs the installed package): $2"
        return
      fi ;;
  esac
  echo "$1: $2"
  (cd "$work/tree" && bash -c "$2" </dev/null) || { echo "failed: $2" >&2; exit 1; }
}

count=0
while IFS= read -r command; do run "man page" "$command"; count=$((count + 1)); done < <(man_commands)
[ "$count" -ge 7 ] || { echo "the man pages show $count examples, expected 7 or more" >&2; exit 1; }
rm -f "$work/tree"/*.xml "$work/tree"/*/*.xml "$work/tree"/*/*/*.xml
count=0
while IFS= read -r command; do run README.md "$command"; count=$((count + 1)); done < <(readme_commands)
[ "$count" -ge 5 ] || { echo "README.md shows $count of its commands, expected 5" >&2; exit 1; }
# The README's edit reached the object: converted again, its speed is 120.
cp "$work/tree/engine.dat" "$work/check.dat"
obj2xml "$work/check.dat" </dev/null
grep -q 'name="speed" size="2">120<' "$work/check.xml" || { echo "the edit did not reach engine.dat" >&2; exit 1; }

all_converted "$work/tree"

#!/usr/bin/env bash
# Runs the commands that README.md, HACKING.md and the man pages show,
# exactly as they are written, or checks that the script that runs them
# does. Fails when a command fails, when what it did is not what the
# documents say, or when a shown command is run nowhere.
#
# A shown command is:
#   - in README.md and HACKING.md, a line of an indented code block (four
#     spaces or more, outside ``` fences); a command in running text fails;
#   - in obj2xml.1 and xml2obj.1, a line of an .RS block that starts with
#     .B, rendered as a reader sees it.
# Each one is:
#   - in README.md's "On Windows": a command for cmd. With WINE and a
#     Windows PROGRAM, they are typed into Wine's cmd, beside a copy of the
#     program; otherwise only checked to be the ones that run knows.
#   - a command that works on files (obj2xml, xml2obj, sed, find, xmllint):
#     run here, each document's in a fresh scratch tree of copies of the
#     sample, with the programs found on PATH in PROGRAM_FOLDER. A command
#     that needs the installed package is run only where it is installed.
#   - a command that builds the release or the package, or installs: run in
#     the source tree, with HOME in the scratch folder, where
#     tools/check-package.sh calls this script for the installed programs
#     (PROGRAM_FOLDER /usr/bin, as root); anywhere else left to that run.
#   - any other: .ci/run must run it as written (a line of it, or the value
#     of a variable it runs), which is checked.
#   documented_commands.sh PROGRAM_FOLDER
#   documented_commands.sh --windows WINE PROGRAM
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
ci=$source_dir/.ci/run

fail() { echo "$*" >&2; exit 1; }

# "SECTION<US>COMMAND" (US: the unit separator, 0x1F) for each line of an
# indented code block of the Markdown file: SECTION is the heading ("## ...")
# it stands under.
markdown_commands() {
  awk '/^```/ { fenced = !fenced; next }
       fenced { next }
       /^## / { section = substr($0, 4) }
       /^    +[^ ]/ { command = $0; sub(/^ +/, "", command); print section "\037" command }' "$1"
}

# Code spans in the running text of the Markdown file that are commands: a
# program's or a script's name and an argument. Tables describe measures.
inline_commands() {
  awk '/^```/ { fenced = !fenced; next } !fenced && !/^    / && !/^\|/' "$1" |
    grep -o '`[^`]*`' | tr -d '`' |
    grep -E '^(obj2xml|xml2obj|cmake|ctest|sed|find|xmllint|dpkg|apt|apt-get|sudo|man|bash|sh|tools/|fuzz/|bench/|\.ci/)[^ ]* ' || true
}

# The commands of the man page: each line of an .RS block that starts with
# .B, rendered as a reader sees it.
man_commands() {
  awk '/^\.RS/ { block = 1; first = 1; next }
       /^\.RE/ { if (commands) print ".br"; block = commands = 0; next }
       block && first { commands = /^\.B /; first = 0 }
       block && commands' "$1" |
    { printf '.TH X 1\n.nh\n.SH X\n'; cat; } |
    groff -man -Tascii -P-cbou -rLL=300n | sed -n 's/^       \([^ ].*\)$/\1/p'
}

# The commands of README.md's "On Windows", one a line; fails on one the
# Windows run does not know.
cmd_commands() {
  local section command
  while IFS=$'\037' read -r section command; do
    [ "$section" = "On Windows" ] || continue
    case "$command" in
      "for %f in "* | "xml2obj "*) echo "$command" ;;
      *) fail "README.md's On Windows shows a command the run in Wine's cmd does not know: $command" ;;
    esac
  done < <(markdown_commands "$source_dir/README.md")
}

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
  commands=$(cmd_commands)
  command=$(grep '^for %f in ' <<<"$commands") || fail "README.md shows no for command for cmd"
  rebuild=$(grep '^xml2obj ' <<<"$commands") || fail "README.md shows no xml2obj command for cmd"
  echo "README.md, in cmd: $command"
  printf 'x' > "$work/refused.dat"  # its failure must not wait for a key
  (cd "$work" && printf '%s\r\nexit\r\n' "$command" | timeout 60 "$2" cmd)
  rm "$work/refused.dat"
  all_converted "$work"
  # The rebuild replaces engine.dat by a new file with the same bytes.
  echo "README.md, in cmd: $rebuild"
  before=$(stat -c %i "$work/engine.dat")
  (cd "$work" && printf '%s\r\nexit\r\n' "$rebuild" | timeout 60 "$2" cmd)
  [ "$(stat -c %i "$work/engine.dat")" != "$before" ] || fail "not rebuilt: engine.dat"
  cmp "$source_dir/samples/engine.dat" "$work/engine.dat"
  exit
fi

program_folder=$(cd "$1" && pwd)
PATH="$program_folder:$PATH"
export PATH
# tools/check-package.sh calls this script for the installed programs.
installed_run=
if [ "$program_folder" = /usr/bin ] && [ "$(id -u)" = 0 ] && [ -e /usr/share/obj2xml/obj2xml.xsd ]; then
  installed_run=yes
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home"

# A fresh tree of copies of the sample, in which a document's commands run.
fresh_tree() {
  rm -rf "$work/tree"
  mkdir -p "$work/tree/two words/deep" "$work/tree/tools.old" "$work/tree/schema"
  for object in engine.dat "two words/loco 1.dat" "two words/deep/loco2.dat" tools.old/tram.dat; do
    cp "$source_dir/samples/engine.dat" "$work/tree/$object"
  done
  cp "$source_dir/schema/obj2xml.xsd" "$work/tree/schema/"
}

# True when .ci/run runs the command as written: as a line of its own
# (its input aside), or as the value of a variable that it runs.
ci_runs() {
  local line name
  [ -n "$1" ] || return 1
  while IFS= read -r line; do
    line=${line#"${line%%[! ]*}"}
    line=${line% </dev/null}
    [ "$line" = "$1" ] && return 0
    if [[ $line =~ ^([a-z_]+)=\'(.*)\'$ ]] && [ "${BASH_REMATCH[2]}" = "$1" ]; then
      name=${BASH_REMATCH[1]}
      grep -qE "^ *(\\\$$name|bash -c \"\\\$$name\")( |\$)" "$ci" && return 0
    fi
  done <"$ci"
  return 1
}

# What the edit that README.md and xml2obj.1 show did: engine.dat is the
# sample with its speed (2 bytes at file offset 16 + 0xDA) set to 120, and
# differs from it.
check_edit() {
  cp "$source_dir/samples/engine.dat" "$work/expected.dat"
  printf '\x78\x00' | dd of="$work/expected.dat" bs=1 seek=$((16 + 0xDA)) conv=notrunc status=none
  cmp "$work/expected.dat" "$work/tree/engine.dat" || fail "$1: engine.dat is not the sample with the speed 120"
  ! cmp -s "$source_dir/samples/engine.dat" "$work/tree/engine.dat" ||
    fail "$1: the edit changed nothing, as the sample's speed is 120 already: show another value"
  echo "$1: engine.dat is the sample with the speed 120"
}

# The files of the tree but one, with their checksums.
tree_files() {  # the one left out
  (cd "$work/tree" && find . -type f ! -path "./$1" -print0 | sort -z | xargs -0 sha256sum)
}

# What a rebuild into a new object (xml2obj DOCUMENT OBJECT) did: an object
# whose own document is DOCUMENT again, and every other file as it was.
check_new_object() {  # source, document, object
  tree_files "$3" | cmp - "$work/files.before" || fail "$1: xml2obj $2 $3 changed other files"
  cp "$work/tree/$3" "$work/new.dat"
  obj2xml "$work/new.dat" </dev/null
  cmp "$work/tree/$2" "$work/new.xml" || fail "$1: $3 does not convert back to $2"
  echo "$1: $3 converts back to $2, and no other file changed"
}

# Runs one command of the document SOURCE that works on files, in the tree.
run_on_files() {  # source, command
  local new_object='' new_document=''
  case "$2" in
    *"/usr/share/obj2xml/"*)
      if [ ! -e /usr/share/obj2xml/obj2xml.xsd ]; then
        echo "skipped ($1, needs the installed package): $2"
        return
      fi ;;
  esac
  if [[ $2 =~ ^xml2obj\ ([^ ]+\.xml)\ ([^ ]+\.dat)$ ]]; then  # shown as writing a new object
    new_document=${BASH_REMATCH[1]} new_object=${BASH_REMATCH[2]}
    [ ! -e "$work/tree/$new_object" ] || fail "$1: $new_object stands there already; no new object is written: $2"
    tree_files "$new_object" >"$work/files.before"
  fi
  echo "$1: $2"
  (cd "$work/tree" && bash -c "$2" </dev/null) || fail "failed: $2"
  case "$2" in "find . "*) all_converted "$work/tree" ;; esac
  [ -z "$new_object" ] || check_new_object "$1" "$new_document" "$new_object"
}

# Runs one command of the document SOURCE that builds or installs, in the
# source tree, where the installed programs are tested; otherwise says so.
run_in_source_tree() {  # source, command
  if [ -z "$installed_run" ]; then
    echo "left to tools/check-package.sh ($1, builds or installs): $2"
    left_to_package_check=yes
    return
  fi
  echo "$1, in the source tree: $2"
  (cd "$source_dir" && HOME=$work/home bash -c "$2" </dev/null) || fail "failed: $2"
  case "$2" in
    "cmake --workflow --preset release && build/release/obj2xml samples/engine.dat")
      tail -n 1 "$source_dir/samples/engine.xml" | grep -qx '</object>' || fail "$1: no whole samples/engine.xml" ;;
    "cmake --install build/release --prefix ~/.local")
      for file in bin/obj2xml bin/xml2obj share/man/man1/obj2xml.1.gz share/obj2xml/obj2xml.xsd; do
        [ -f "$work/home/.local/$file" ] || fail "$1: ~/.local/$file not installed"
      done ;;
  esac
}

# Runs or checks every command of the document SOURCE, given as
# "SECTION<US>COMMAND" lines on standard input; at least MINIMUM of them.
run_document() {  # source, minimum
  local source=$1 count=0 edited='' section command
  fresh_tree
  while IFS=$'\037' read -r section command; do
    count=$((count + 1))
    if [ "$source" = README.md ] && [ "$section" = "On Windows" ]; then
      echo "$source, for Wine's cmd (windows-x64.documented_commands.run_as_written): $command"
      continue
    fi
    case "$command" in
      obj2xml\ * | xml2obj\ * | sed\ * | find\ * | xmllint\ *)
        run_on_files "$source" "$command"
        case "$command" in "sed -i "*) edited=yes ;; esac ;;
      "cmake --workflow --preset release && "* | "cmake --workflow --preset package" | "cmake --install "* | "dpkg -i "*)
        run_in_source_tree "$source" "$command" ;;
      *)
        ci_runs "$command" || fail "$source shows a command that no test runs: $command"
        echo "$source, run by .ci/run as written: $command" ;;
    esac
  done
  [ -z "$edited" ] || check_edit "$source"
  [ "$count" -ge "$2" ] || fail "$source shows $count commands, expected $2 or more"
}

for document in README.md HACKING.md; do
  inline=$(inline_commands "$source_dir/$document")
  [ -z "$inline" ] || fail "$document shows commands in running text, where no test runs them: $inline"
done
cmd_commands >/dev/null
left_to_package_check=
run_document README.md 10 < <(markdown_commands "$source_dir/README.md")
run_document HACKING.md 8 < <(markdown_commands "$source_dir/HACKING.md")
run_document obj2xml.1 3 < <(man_commands "$source_dir/obj2xml.1" | sed 's/^/EXAMPLES\x1F/')
run_document xml2obj.1 4 < <(man_commands "$source_dir/xml2obj.1" | sed 's/^/EXAMPLES\x1F/')

if [ -n "$left_to_package_check" ]; then
  if ! grep -qx 'tests/documented_commands.sh /usr/bin' "$source_dir/tools/check-package.sh" ||
    ! ci_runs tools/check-package.sh; then
    fail "the commands left to tools/check-package.sh are run nowhere"
  fi
fi

# README.md's lines of the sample's document are lines of it.
mkdir "$work/excerpt"
cp "$source_dir/samples/engine.dat" "$work/excerpt/"
obj2xml "$work/excerpt/engine.dat" </dev/null
while IFS= read -r line; do
  grep -qxF -- "$line" "$work/excerpt/engine.xml" || fail "README.md shows a line the sample's document does not hold: $line"
done < <(awk '/^```xml/ { on = 1; next } /^```/ { on = 0 } on && !/^[[:space:]]*\.\.\.$/' "$source_dir/README.md")
echo "README.md's lines of the sample's document are in it"

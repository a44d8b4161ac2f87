#!/usr/bin/env bash
# Measures one conversion on this machine against its floor:
#  (a) a 366-byte class 0x17 file against cp of the same file (paired runs, medians)
#  (b) instructions of one conversion (callgrind)
#  (c) peak memory against cp's
#  (d) a 1 GiB sparse class 0x17 file against cat FILE > /dev/null (no target)
#  (e) one rebuild of the object from its document against cp of the object
#      (paired runs, medians), and (f) its instructions (callgrind)
# Needs valgrind and /usr/bin/time (Debian's time package).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset release >/dev/null
work=build/bench
mkdir -p "$work"
g++ -std=c++20 -O2 -Wall -Wextra -o "$work/paired_runs" bench/paired_runs.cpp
program=$(realpath build/release/obj2xml)
rebuilder=$(realpath build/release/xml2obj)
cd "$work"
cp ../../samples/engine.dat engine.dat
printf '\x17\x00\x00\x00BIG\x00\x00\x00\x00\x00\x00\x00\x00\x00' > big.dat
truncate -s 1G big.dat
cat big.dat > /dev/null  # in the page cache for both

missed=0
report() {  # name, figure, target, holds (0/1)
  local verdict=met
  [ "$4" = 1 ] || { verdict=MISSED; missed=1; }
  printf '%-44s %-34s %-22s %s\n' "$1" "$2" "$3" "$verdict"
}
printf '%-44s %-34s %-22s %s\n' measure figure target verdict

read -r ours cps ratio < <(./paired_runs 400 -- "$program" engine.dat -- /bin/cp engine.dat copy.dat)
report "(a) 366-byte conversion vs cp" "${ours} us vs ${cps} us: ${ratio}x" "<= 0.8x" \
  "$(awk -v r="$ratio" 'BEGIN { print (r <= 0.8) }')"

instructions=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" engine.dat 2>&1 |
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
report "(b) instructions of one conversion" "$instructions" "<= 300000" \
  "$(( instructions <= 300000 ))"

peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null </dev/null | tail -n 1; }
ours_kib=$(peak "$program" engine.dat)
cp_kib=$(peak /bin/cp engine.dat copy.dat)
report "(c) peak memory vs cp" "${ours_kib} KiB vs ${cp_kib} KiB" "<= cp + 1024 KiB" \
  "$(( ours_kib <= cp_kib + 1024 ))"

read -r ours cats ratio < <(./paired_runs 15 -- "$program" big.dat -- /bin/cat big.dat)
# No target: reading into fresh memory costs the kernel's zeroing of every
# page and then the copy; this shows what the plain read costs.
printf '%-44s %-34s %-22s %s\n' "(d) 1 GiB sparse file vs cat > /dev/null" "${ours} us vs ${cats} us: ${ratio}x" \
  "none" "-"
rm -f big.dat big.xml

"$program" engine.dat  # engine.xml, rebuilt over engine.dat as its base
read -r ours cps ratio < <(./paired_runs 400 -- "$rebuilder" engine.xml engine.dat -- /bin/cp engine.dat copy.dat)
report "(e) one rebuild vs cp of the object" "${ours} us vs ${cps} us: ${ratio}x" "<= 1x" \
  "$(awk -v r="$ratio" 'BEGIN { print (r <= 1) }')"
instructions=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$rebuilder" engine.xml engine.dat 2>&1 |
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
printf '%-44s %-34s %-22s %s\n' "(f) instructions of one rebuild" "$instructions" "none" "-"
cmp ../../samples/engine.dat engine.dat  # the rebuilds changed nothing
exit "$missed"

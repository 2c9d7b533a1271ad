#!/usr/bin/env bash
# Peak memory (maximum resident set size) of the filter: it must be bounded by
# the longest line, not by the size of the input. The input is generated on
# the fly into a pipe; nothing big is stored on disk.
#
#   bench/memory.sh [path/to/txtshade]     (default: build/posix/txtshade)
#
# Needs GNU time (/usr/bin/time, Debian package "time").
set -eu  # no pipefail: the generators end by a broken pipe when head has enough
cd "$(dirname "$0")/.."

program=${1:-build/posix/txtshade}
[ -x "$program" ] || { echo "no program at $program; build it first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

# Runs the program on the standard input given, output discarded, a log kept
# in a scratch folder; prints the peak RSS in KiB and the wall time.
measure() {
  local label=$1
  shift
  local scratch report
  scratch=$(mktemp -d)
  report=$scratch/time
  /usr/bin/time -o "$report" -f '%M %e' "$program" "$@" "/L:$scratch/match.log" >/dev/null
  read -r rss seconds <"$report"
  printf '%-44s %8d KiB  %7.2f s  (log %d bytes)\n' "$label" "$rss" "$seconds" \
    "$(stat -c %s "$scratch/match.log")"
  rm -rf "$scratch"
}

GiB=$((1 << 30))
MiB=$((1 << 20))

echo "peak resident set size of $program"
printf 'x\n' | measure "baseline: one short line" x

# 1 GiB of short lines (55 to 60 bytes); one line in 16 matches.
line_set=$(for i in $(seq 0 15); do
  if [ "$i" -eq 7 ]; then printf 'drwxr-xr-x  2 user group  4096 Dec 11 13:00 MATCH %04d\n' "$i"
  else printf '%s%04d\n' '-rw-r--r--  1 user group 48640 Dec 11 13:00 other-file.' "$i"; fi
done)
yes -- "$line_set" | head -c "$GiB" | measure "1 GiB of short lines (55 to 60 bytes)" match

# One line of 100 MiB that matches (its tail holds the term), with its line end.
{ head -c $((100 * MiB - 7)) /dev/zero | tr '\0' 'x'; printf 'MATCH\r\n'; } |
  measure "one line of 100 MiB, matching" match

# The same line without a match: nothing is logged, the copies are still made.
{ head -c $((100 * MiB)) /dev/zero | tr '\0' 'x'; printf '\n'; } |
  measure "one line of 100 MiB, no match" match

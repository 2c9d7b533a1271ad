#!/usr/bin/env bash
# Throughput benchmark: txtshade against its I/O floor and the general tools a
# user would pick instead, on one generated corpus, every output to a file.
#
#   bench/run.sh                  the full run: 100 MB, side by side and linearity tables
#   bench/run.sh --quick          the side-by-side table only
#   bench/run.sh --smoke          a tiny corpus, one run: checks that every piece runs
#                                 and that txtshade copies a CR LF corpus byte for byte
# Options:
#   --size BYTES   corpus size (k, M, G suffixes; 100M)
#   --runs N       runs of each side-by-side row (5); linearity and wine rows get 3
#   --work DIR     where corpora and outputs go (build/bench-data)
#   --txtshade BIN --corpus BIN --floor BIN   use these binaries instead of building
#   --wine         also run the Windows build (cross-built with mingw-w64) under wine
#   --win-build DIR  its build folder (build/bench-windows; configured and built when
#                  missing), which also holds the wine prefix the benchmark uses
#
# Each figure is the median of the runs by wall time (in the linearity tables:
# the run with the least CPU time); "ratio" is a row's wall time over
# txtshade's. The report is printed and kept in WORK/report.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

mode=full size=100M runs=5 linear_runs=3 work="$root/build/bench-data"
txtshade="" corpus="" floor="" wine=false winbuild="$root/build/bench-windows"
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) mode=smoke ;;
    --quick) mode=quick ;;
    --size) size=$2; shift ;;
    --runs) runs=$2 linear_runs=$2; shift ;;
    --work) work=$2; shift ;;
    --txtshade) txtshade=$2; shift ;;
    --corpus) corpus=$2; shift ;;
    --floor) floor=$2; shift ;;
    --wine) wine=true ;;
    --win-build) winbuild=$2; shift ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
  shift
done
if [ "$mode" = smoke ]; then
  size=64k runs=1
  work=$(mktemp -d "${TMPDIR:-/tmp}/txtshade-bench-smoke.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
report="$work/report.txt"
: >"$report"
say() { printf '%s\n' "$*" | tee -a "$report"; }
die() { echo "bench: $*" >&2; exit 1; }

# The benchmark's own tools are optional for the project: installed here only.
if [ "$mode" != smoke ]; then
  # shellcheck disable=SC2046
  "$root/scripts/install-deps" $(grep -v '^#' "$here/packages.txt")
fi

if [ -z "$txtshade" ] || [ -z "$corpus" ] || [ -z "$floor" ]; then
  build="$root/build/bench"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTXTSHADE_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target txtshade txtshade_corpus txtshade_iofloor >/dev/null
  txtshade=${txtshade:-$build/txtshade}
  corpus=${corpus:-$build/bench/txtshade_corpus}
  floor=${floor:-$build/bench/txtshade_iofloor}
fi

export LC_ALL=C.UTF-8 # sed, awk and the greps fold case in UTF-8 like txtshade
termA=timeout termB=réseau
colour_on=$'\e[0;96;40m' colour_off=$'\e[0m'

# ---------------------------------------------------------------------------
# Timing. A table's rows are run in turn, one run of each per round, so that
# load that comes and goes on a shared machine falls on all of them alike.

have_time=false
[ -x /usr/bin/time ] && have_time=true
rows=()
declare -A row_label row_input

# add NAME INPUT LABEL COMMAND...: a row of the next table.
add() {
  local name=$1 input=$2 label=$3
  shift 3
  rows+=("$name")
  row_label[$name]=$label row_input[$name]=$input
  declare -g -a "cmd_$name"
  local -n command="cmd_$name"
  command=("$@")
  : >"$work/times.$name"
}

# One run of a row: standard input from its input, output to a file.
run_row() {
  local name=$1
  # shellcheck disable=SC2178 # a reference to the row's command array
  local -n command="cmd_$name"
  if $have_time; then
    /usr/bin/time -f '%e %U %S %M' -a -o "$work/times.$name" "${command[@]}" \
      <"${row_input[$name]}" >"$work/out.$name" || die "${row_label[$name]} failed"
  else
    # Without GNU time: the shell's own clock, and no peak memory.
    local TIMEFORMAT='%R %U %S ?'
    { time "${command[@]}" <"${row_input[$name]}" >"$work/out.$name" 2>/dev/null; } \
      2>>"$work/times.$name" || die "${row_label[$name]} failed"
  fi
}

# rounds N: N runs of every row added since the last table.
rounds() {
  local round name
  for ((round = 0; round < $1; round++)); do
    for name in "${rows[@]}"; do run_row "$name"; done
  done
}

# pick NAME median-wall|least-wall|least-cpu: sets wall, user, sys, cpu
# (user + sys, in seconds) and rss (KiB) from the median run by wall time, the
# fastest run, or the run with the least CPU time.
pick() {
  local key=1 which='int((NR + 1) / 2)'
  [ "$2" = least-cpu ] && key=5 which=1
  [ "$2" = least-wall ] && which=1
  read -r wall user sys rss cpu < <(
    awk '{ printf "%s %s %s %s %.2f\n", $1, $2, $3, $4, $2 + $3 }' "$work/times.$1" |
      sort -n -k$key | awk "{ row[NR] = \$0 } END { print row[$which] }")
}

# ends a table: forgets its rows and their outputs.
clear_rows() {
  local name
  for name in "${rows[@]}"; do rm -f "$work/out.$name" "$work/times.$name"; done
  rows=()
}

fmt_rss() { if [ "$1" = "?" ]; then echo "?"; else awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; fi; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), (b > 0 ? a / b : 0) }'; }
row() { printf '%-34s %8s %8s %8s %8s %10s %7s %8s %7s\n' "$@" | tee -a "$report"; }

# side_by_side BASELINE: the table of the rows added, each from its median
# run, with its wall time over the baseline row's, then the fastest run's wall
# time and its ratio; fills walls, bests, cpus, users and systems.
declare -A walls bests cpus users systems
side_by_side() {
  local name
  row "command" "wall s" "user s" "sys s" "cpu s" "peak RSS" "ratio" "best s" "ratio"
  pick "$1" median-wall
  walls[$1]=$wall
  pick "$1" least-wall
  bests[$1]=$wall
  for name in "${rows[@]}"; do
    pick "$name" least-wall
    bests[$name]=$wall
    pick "$name" median-wall
    walls[$name]=$wall cpus[$name]=$cpu users[$name]=$user systems[$name]=$sys
    row "${row_label[$name]}" "$wall" "$user" "$sys" "$cpu" "$(fmt_rss "$rss")" \
      "$(ratio "$wall" "${walls[$1]}")" "${bests[$name]}" "$(ratio "${bests[$name]}" "${bests[$1]}")"
  done
}

machine() {
  say "machine: $(uname -sr), $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
  say "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)   date: $(date -u '+%F %H:%M UTC')"
  say "txtshade: $txtshade ($(cd "$root" && git describe --always --dirty 2>/dev/null || echo '?'))"
}

# ---------------------------------------------------------------------------
# Side by side on one corpus.
data="$work/corpus.txt"
"$corpus" --size "$size" >"$data"
bytes=$(wc -c <"$data")
say "txtSHADE throughput benchmark ($mode): corpus $bytes bytes, CR LF, $(wc -l <"$data") lines,"
say "terms \"$termA\" \"$termB\"; median of $runs runs taken in turn (linearity rows: least CPU time of $linear_runs); output to files"
machine
say ""

add txtshade "$data" "txtshade A B" "$txtshade" "$termA" "$termB"
add txtshade_log "$data" "txtshade A B /L:log" "$txtshade" "$termA" "$termB" "/L:$work/match.log"
add floor "$data" "I/O floor (128-byte read/write)" "$floor"
add sed "$data" "sed, both terms coloured" sed "/$termA/I{/$termB/I{s/^.*\$/\\x1b[0;96;40m&\\x1b[0m/}}"
command -v gawk >/dev/null &&
  add awk "$data" "gawk, both terms coloured" gawk -v on="$colour_on" -v off="$colour_off" \
    "BEGIN { IGNORECASE = 1 } /$termA/ && /$termB/ { print on \$0 off; next } 1"
command -v rg >/dev/null &&
  add rg "$data" "rg --passthru -i (term A only)" rg --passthru -i --color=always "$termA"
command -v ugrep >/dev/null &&
  add ugrep "$data" "ugrep --passthru -i --bool 'A B'" \
    ugrep --passthru -i --color=always --bool "$termA $termB"
rounds "$runs"
side_by_side txtshade

say ""
# The checks: txtshade copies a CR LF corpus unchanged, as the floor does, and
# marks the lines that sed and awk colour.
cmp -s "$work/out.txtshade" "$work/out.floor" || die "txtshade's output differs from the floor's"
cmp -s "$work/out.txtshade" "$data" || die "txtshade's output differs from its input"
logged=$(wc -l <"$work/match.log")
[ "$logged" -gt 0 ] || die "no line matched both terms"
for tool in sed awk; do
  [ -f "$work/out.$tool" ] || continue
  coloured=$(grep -c -F "$colour_on" "$work/out.$tool" || true)
  [ "$coloured" = "$logged" ] || die "$tool coloured $coloured lines, txtshade logged $logged"
done
say "checks: txtshade's output equals the floor's and its input byte for byte; $logged lines hold both terms (txtshade's log, sed and awk agree)"
clear_rows
rm -f "$work/match.log"

[ "$mode" = smoke ] && { echo "smoke run passed (times not judged on a tiny corpus)"; exit 0; }
floor_ratio=$(ratio "${walls[txtshade]}" "${walls[floor]}")
shade_user=${users[txtshade]} shade_sys=${systems[txtshade]}
floor_user=${users[floor]} floor_sys=${systems[floor]}
say "goal 1: txtshade wall / floor wall = $floor_ratio (goal: at most 1.15) -> $(awk -v r="$floor_ratio" 'BEGIN { print (r <= 1.15 ? "met" : "MISSED") }')"
say "        (fastest runs: $(ratio "${bests[txtshade]}" "${bests[floor]}"); CPU time, user + sys: txtshade / floor = $(ratio "${cpus[txtshade]}" "${cpus[floor]}"))"
say "goal 2: txtshade user / sys CPU = $shade_user / $shade_sys = $(ratio "$shade_user" "$shade_sys") (goal: at most 0.33) -> $(awk -v u="$shade_user" -v s="$shade_sys" 'BEGIN { print (u * 3 <= s ? "met" : "MISSED") }')"
say "        (the floor, which does nothing but the system calls: $floor_user / $floor_sys = $(ratio "$floor_user" "$floor_sys");"
say "         txtshade's user time above the floor's / its sys time = $(awk -v u="$shade_user" -v f="$floor_user" -v s="$shade_sys" 'BEGIN { printf "%.2f", (u - f) / s }'))"

# ---------------------------------------------------------------------------
# Linearity: doubling a dimension may at most double txtshade's time. Each row
# is the run with the least CPU time (user + sys: other load on a shared
# machine only ever adds to it, and adds less than to the wall time), and
# compares that with the previous row's, beside the growth factor.
linear_table() {
  # linear_table TITLE, then rows read from stdin: "LABEL|FACTOR|INPUT|ARGS..."
  say ""
  say "$1"
  local format='%-30s %8s %8s %8s %8s %10s %7s %7s %8s\n'
  local label input args n=0 name previous="" step verdict
  local -A factors
  while IFS='|' read -r label factor input args; do
    read -r -a args <<<"$args" # the terms hold no blanks
    name=linear$((n++))
    add "$name" "$input" "$label" "$txtshade" "${args[@]}"
    factors[$name]=$factor
  done
  rounds "$linear_runs"
  # shellcheck disable=SC2059
  printf "$format" "row" "wall s" "user s" "sys s" "cpu s" "peak RSS" "x prev" "growth" "verdict" |
    tee -a "$report"
  for name in "${rows[@]}"; do
    pick "$name" least-cpu
    step=- verdict=-
    if [ -n "$previous" ]; then
      step=$(ratio "$cpu" "$previous")
      # 10% above the growth factor is allowed for the noise of a shared machine.
      verdict=$(awk -v s="$step" -v f="${factors[$name]}" 'BEGIN { print (s <= f * 1.1 ? "ok" : "TOO SLOW") }')
    fi
    # shellcheck disable=SC2059
    printf "$format" "${row_label[$name]}" "$wall" "$user" "$sys" "$cpu" "$(fmt_rss "$rss")" "$step" \
      "${factors[$name]}" "$verdict" | tee -a "$report"
    previous=$cpu
  done
  clear_rows
}

if [ "$mode" = full ]; then
  # Input size: 50 to 400 MB of the same kind of corpus.
  for s in 50 100 200 400; do "$corpus" --size ${s}M >"$work/size$s.txt"; done
  linear_table "input size (two terms; x prev: CPU time over the previous row's; growth: input factor)" <<EOF
50 MB|-|$work/size50.txt|$termA $termB
100 MB|2|$work/size100.txt|$termA $termB
200 MB|2|$work/size200.txt|$termA $termB
400 MB|2|$work/size400.txt|$termA $termB
EOF
  rm -f "$work"/size{50,100,200,400}.txt

  # Line length at a fixed total size: the time should not grow at all.
  lengths="0 1k 8k 64k 512k 4M 32M"
  for l in $lengths; do "$corpus" --size "$size" --line-length "$l" >"$work/line$l.txt"; done
  "$corpus" --size "$size" --one-line >"$work/lineone.txt"
  {
    growth=-
    for l in $lengths; do
      label="lines of ${l}B"
      [ "$l" = 0 ] && label="one record a line (~150 B)"
      echo "$label|$growth|$work/line$l.txt|$termA $termB"
      growth=8
    done
    echo "one line of $size|$(awk -v b="$bytes" 'BEGIN { printf "%.2f", b < 33554432 ? 1 : b / 33554432 }')|$work/lineone.txt|$termA $termB"
  } | linear_table "line length ($size in all; growth: line length factor; x prev should stay near 1)"
  for l in $lengths one; do rm -f "$work/line$l.txt"; done

  # Term length, in the worst case for a naive search: lines of "a" and a
  # term of a's ending in "b": every proper prefix of it occurs everywhere, the whole nowhere.
  awk 'BEGIN { s = sprintf("%4094s", ""); gsub(/ /, "a", s); for (i = 0; i < 1024; i++) printf "%s\r\n", s }' >"$work/a4k.txt"
  for ((i = 0; i < $(($(wc -c <"$data") / 4194304)); i++)); do cat "$work/a4k.txt"; done >"$work/aaa.txt"
  rm -f "$work/a4k.txt"
  {
    growth=-
    for n in 8 16 32 64 128 256 512 1024; do
      term=$(awk -v n=$n 'BEGIN { s = sprintf("%" (n - 1) "s", ""); gsub(/ /, "a", s); print s "b" }')
      echo "term a..ab of $n bytes|$growth|$work/aaa.txt|$term"
      growth=2
    done
  } | linear_table "term length (lines of 4094 a's, term of a's then b; growth: term length factor)"
  rm -f "$work/aaa.txt"

  # Number of terms, each found in every line so that every one is searched.
  terms=(took= req=0x pid= host=srv- 2026- ms "[" "]")
  {
    echo "1 term|-|$data|${terms[0]}"
    echo "2 terms|2|$data|${terms[*]:0:2}"
    echo "4 terms|2|$data|${terms[*]:0:4}"
    echo "8 terms|2|$data|${terms[*]:0:8}"
    echo "16 terms (the 8 twice)|2|$data|${terms[*]} ${terms[*]}"
  } | linear_table "number of terms (all found in every line; growth: term count factor)"
fi

# ---------------------------------------------------------------------------
# The Windows build under wine: ratios only, as wine adds its own cost.
if $wine; then
  "$root/scripts/install-deps" mingw-w64 wine wine64
  if [ ! -f "$winbuild/txtshade.exe" ] || [ ! -f "$winbuild/bench/txtshade_iofloor.exe" ]; then
    cmake -S "$root" -B "$winbuild" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTXTSHADE_TESTS=OFF >/dev/null
    cmake --build "$winbuild" -j 2 --target txtshade txtshade_iofloor >/dev/null
  fi
  # A wine prefix of the benchmark's own, made once.
  export WINEDEBUG=-all WINEPREFIX="$winbuild/wineprefix"
  [ -d "$WINEPREFIX" ] || wine wineboot --init </dev/null >/dev/null 2>&1 || true
  # wine's start-up (its server stays up a few seconds after each program).
  wine "$winbuild/bench/txtshade_iofloor.exe" </dev/null >/dev/null 2>&1 || true
  add wstart /dev/null "wine start-up" wine "$winbuild/bench/txtshade_iofloor.exe"
  rounds 1
  pick wstart median-wall
  start_wall=$wall
  clear_rows
  say ""
  say "Windows build under wine ($winbuild), same corpus, $linear_runs runs in turn: wall-time ratios"
  say "(wine's server does part of the work in a process of its own, so the CPU figures are partial)"
  add wtxtshade "$data" "wine txtshade.exe A B" wine "$winbuild/txtshade.exe" "$termA" "$termB"
  add wfloor "$data" "wine I/O floor .exe" wine "$winbuild/bench/txtshade_iofloor.exe"
  add ntxtshade "$data" "native txtshade A B" "$txtshade" "$termA" "$termB"
  add nfloor "$data" "native I/O floor" "$floor"
  rounds "$linear_runs"
  side_by_side wtxtshade
  cmp -s "$work/out.wtxtshade" "$data" || die "the Windows build's output differs from its input"
  say "checks: the Windows txtshade's output equals its input byte for byte"
  say "txtshade.exe wall / floor .exe wall under wine = $(ratio "${walls[wtxtshade]}" "${walls[wfloor]}") (native, same rounds: $(ratio "${walls[ntxtshade]}" "${walls[nfloor]}"))"
  say "wine's own overhead: starting a program $start_wall s; the floor .exe under wine / the native floor = $(ratio "${walls[wfloor]}" "${walls[nfloor]}"); txtshade.exe under wine / native txtshade = $(ratio "${walls[wtxtshade]}" "${walls[ntxtshade]}")"
  say "(under wine the corpus's UTF-8 \"é\" is read as OEM bytes, so \"$termB\" matches no line there;"
  say " the second term is searched in the lines holding the first, as natively)"
  clear_rows
fi
say ""
say "report kept in $report"

#!/usr/bin/env bash
# Start-up and list benchmark of the headless zorv, with hyperfine.
#
#   bench/start/run.sh [ZORV]     (or ZORV=path; RUNS=n, default 50 for the
#                                 start-up, RUNS/5 for the 100,000-item steps)
#
# Measures the median wall time of
#   start      zorv --version  against  curl --version (the same machine, the
#              same run): a headless command's start-up
#   list       zorv --list LIST >/dev/null       (LIST: 100,000 items)
#   add        zorv --add LIST 'http://127.0.0.1/f/file*1.100000.6d*.bin'
#              on a new list (expands, checks and saves 100,000 items)
# and prints them against the targets: start ≤ 1.3 × curl, list ≤ 0.15 s,
# add ≤ 0.2 s. Exit status: 0 all targets met, 1 any missed or a command
# failed, 2 set-up error (hyperfine or curl missing).
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

ZORV_BIN=$(find_zorv "${1:-}")
RUNS=${RUNS:-50}
BIG_RUNS=$(( RUNS / 5 > 3 ? RUNS / 5 : 3 ))
PATTERN='http://127.0.0.1/f/file*1.100000.6d*.bin'
START_RATIO=1.3
LIST_S=0.15
ADD_S=0.2

[[ -x $ZORV_BIN ]] || die "zorv not found at $ZORV_BIN (build a release build first, or pass its path)"
command -v hyperfine >/dev/null || die "hyperfine not found (Debian package hyperfine)"
CURL_BIN=$(command -v curl) || die "curl not found (Debian package curl)"
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorv-bench-start.XXXXXX") || die "no temporary folder"
trap 'rm -rf "$WORK"' EXIT
private_home "$WORK/home"
LIST=$WORK/big.zorv

# median_of JSON INDEX: the median wall time of a command of hyperfine's export.
median_of() {
    /usr/bin/python3 -c 'import json, sys; print("%.4f" % json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"
}

echo "zorv:  $ZORV_BIN"
echo "curl:  $CURL_BIN"
echo
hyperfine -N -w 5 -r "$RUNS" --export-json "$WORK/start.json" \
    "$ZORV_BIN --version" "$CURL_BIN --version" >/dev/null || { echo "FAILED: start-up"; exit 1; }
# The add runs on a new list each time; the list it makes is then checked
# and listed.
hyperfine -N -w 1 -r "$BIG_RUNS" --prepare "rm -f $LIST" --export-json "$WORK/add.json" \
    "$ZORV_BIN --add $LIST $PATTERN" >/dev/null || { echo "FAILED: add"; exit 1; }
[[ $("$ZORV_BIN" --list "$LIST" | wc -l) -eq 100000 ]] || { echo "FAILED: the list does not hold 100,000 items"; exit 1; }
hyperfine -N -w 1 -r "$BIG_RUNS" --output=null --export-json "$WORK/list.json" \
    "$ZORV_BIN --list $LIST" >/dev/null || { echo "FAILED: list"; exit 1; }

zorv_start=$(median_of "$WORK/start.json" 0)
curl_start=$(median_of "$WORK/start.json" 1)
ratio=$(calc "$zorv_start / $curl_start")
add=$(median_of "$WORK/add.json" 0)
list=$(median_of "$WORK/list.json" 0)

all=PASS
row() {
    local v; v=$(verdict "$3")
    [[ $v == PASS ]] || all=FAIL
    printf '%-8s %-34s %-22s %s\n' "$1" "$2" "$4" "$v"
}
printf '%-8s %-34s %-22s %s\n' step "median" target verdict
row start "$(printf '%.1f ms (curl %.1f ms): %.2f x' "$(calc "$zorv_start * 1000")" "$(calc "$curl_start * 1000")" "$ratio")" \
    "$ratio <= $START_RATIO" "<= $START_RATIO x curl"
row list "$(printf '%.3f s' "$list")" "$list <= $LIST_S" "<= $LIST_S s"
row add "$(printf '%.3f s' "$add")" "$add <= $ADD_S" "<= $ADD_S s"
echo
echo "start benchmark: $all"
[[ $all == PASS ]]

#!/usr/bin/env bash
# List benchmark: a list of 100,000 items through the headless commands.
#
#   bench/list/run.sh [ZORV]      (or ZORV=path; RUNS=n, default 5)
#
# Measures, each RUNS times, wall time and peak memory of
#   add        zorv --add LIST 'http://127.0.0.1/f/file*1.100000.6d*.bin'
#              (a new list; the pattern stands for file000001 … file100000)
#   list       zorv --list LIST >/dev/null
#   load+save  zorv --add LIST http://127.0.0.1/one.bin   on the 100,000-item
#              list: reads it, adds one item, writes it back
# and prints the medians against the targets: each under 1 s, peak memory
# under 100 MB. Exit status: 0 all targets met, 1 any missed or a command
# failed, 2 set-up error.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

need_gnu_time
ZORV_BIN=$(find_zorv "${1:-}")
RUNS=${RUNS:-5}
COUNT=100000
PATTERN='http://127.0.0.1/f/file*1.100000.6d*.bin'
EXTRA=http://127.0.0.1/one.bin
LIMIT_S=1
LIMIT_MB=100

[[ -x $ZORV_BIN ]] || die "zorv not found at $ZORV_BIN (build a release build first, or pass its path)"
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorv-bench-list.XXXXXX") || die "no temporary folder"
trap 'rm -rf "$WORK"' EXIT
private_home "$WORK/home"
LIST=$WORK/big.zorv
PRISTINE=$WORK/pristine.zorv
OUT=$WORK/out.txt
ERR=$WORK/err.txt

echo "zorv:  $ZORV_BIN"
echo "runs:  $RUNS per command; 100,000 items"
echo

failed=0
fail_cmd() {
    echo "FAILED: $1 (exit $M_RC)"
    sed 's/^/  | /' "$ERR" | head -n 5
    failed=1
}

# Checks the lines of `zorv --list`: COUNT_EXPECTED lines, the first and the
# last URL of the run in place.
check_listing() {
    local expected=$1
    local n first last
    n=$(wc -l <"$OUT")
    if [[ $n -ne $expected ]]; then
        echo "FAILED: zorv --list printed $n lines, expected $expected"
        failed=1
        return 1
    fi
    first=$(head -n 1 "$OUT" | cut -f 1,3)
    last=$(sed -n "${COUNT}p" "$OUT" | cut -f 1,3)
    if [[ $first != $'0\thttp://127.0.0.1/f/file000001.bin' ||
          $last != "$((COUNT - 1))"$'\thttp://127.0.0.1/f/file100000.bin' ]]; then
        echo "FAILED: unexpected items: first '$first', item $COUNT '$last'"
        failed=1
        return 1
    fi
}

declare -a add_w add_m list_w list_m save_w save_m
for ((r = 1; r <= RUNS; r++)); do
    rm -f "$LIST"
    measure "$OUT" "$ERR" "$ZORV_BIN" --add "$LIST" "$PATTERN"
    [[ $M_RC -eq 0 ]] || { fail_cmd "zorv --add (pattern)"; break; }
    add_w+=("$M_WALL"); add_m+=("$M_RSS")

    measure "$OUT" "$ERR" "$ZORV_BIN" --list "$LIST"
    [[ $M_RC -eq 0 ]] || { fail_cmd "zorv --list"; break; }
    list_w+=("$M_WALL"); list_m+=("$M_RSS")
    check_listing "$COUNT" || break
    cp "$LIST" "$PRISTINE"

    measure /dev/null "$ERR" "$ZORV_BIN" --add "$LIST" "$EXTRA"
    [[ $M_RC -eq 0 ]] || { fail_cmd "zorv --add (load and save)"; break; }
    save_w+=("$M_WALL"); save_m+=("$M_RSS")
    "$ZORV_BIN" --list "$LIST" >"$OUT" 2>"$ERR" </dev/null
    check_listing $((COUNT + 1)) || break
    if [[ $(tail -n 1 "$OUT" | cut -f 1,3) != "$COUNT"$'\t'"$EXTRA" ]]; then
        echo "FAILED: the added item is not the last one after load and save"
        failed=1
        break
    fi
    printf 'run %d: add %.3f s, list %.3f s, load+save %.3f s\n' "$r" \
        "${add_w[-1]}" "${list_w[-1]}" "${save_w[-1]}"
done

echo
if [[ $failed -ne 0 || ${#save_w[@]} -ne $RUNS ]]; then
    echo "list benchmark: FAIL (a command failed, see above)"
    exit 1
fi

echo "list file: $(stat -c %s "$PRISTINE") bytes"
printf '%-10s %10s %12s   %s\n' command "wall s" "peak MB" "target: < ${LIMIT_S} s, < ${LIMIT_MB} MB"
all=PASS
row() {
    local name=$1; shift
    local -n walls=$1 mems=$2
    local w m mb v
    w=$(median "${walls[@]}")
    m=$(median "${mems[@]}")
    mb=$(calc "$m * 1024 / 1000000")
    v=$(verdict "$w < $LIMIT_S && $mb < $LIMIT_MB")
    [[ $v == PASS ]] || all=FAIL
    printf '%-10s %10.3f %12.1f   %s\n' "$name" "$w" "$mb" "$v"
}
row add add_w add_m
row list list_w list_m
row load+save save_w save_m
echo
echo "list benchmark: $all"
[[ $all == PASS ]]

#!/usr/bin/env bash
# Torture benchmark: zorv --fetch killed with SIGKILL at random moments, then
# run to the end. Every file must arrive byte-identical, and the server must
# not have sent much more than the files: resume keeps what is on disk.
#
#   bench/torture/run.sh [ZORV]
#
# Environment:
#   ZORV        zorv executable (default: build-release/bin/zorv)
#   RUNS        repetitions (default 3; the median ratio is reported)
#   KILLS       SIGKILLs per repetition (default 25)
#   SEED        seed of the random kill moments (default: from the clock;
#               printed, so a run can be repeated)
#   KILL_MIN, KILL_MAX  seconds after its start at which a run is killed
#               (uniformly between them; default 0.2 and 0.8)
#   OUT_DIR     where the downloads go (default: a temporary folder on disk)
#
# The list: 3 files of 32 MiB, 3 of 3 MiB and 10 of 100 KiB, fetched with
# `zorv --fetch --connections 4 --max-segments 4` from a private nginx that
# sends each connection at most 1.5 MB/s (limit_rate 1500k). Each of the
# KILLS runs is killed with SIGKILL after a random 0.2–0.8 s; a run that ends
# by itself before its kill ends the series early (it is reported: nginx lets
# every new request send one second's worth at once, so a list that keeps
# its progress is done after about 20 short runs). Then zorv --fetch runs
# until the list is done.
#
# Target: every file byte-identical (cmp) and every item fetched, and the
# bytes nginx sent ($bytes_sent of its access log: headers and bodies) at
# most 1.3 x the bytes of the files, in every repetition.
#
# Exit status: 0 target met, 1 missed, 2 set-up error.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

ZORV_BIN=$(find_zorv "${1:-}")
RUNS=${RUNS:-3}
KILLS=${KILLS:-25}
SEED=${SEED:-$(date +%s)}
KILL_MIN=${KILL_MIN:-0.2}
KILL_MAX=${KILL_MAX:-0.8}
LIMIT=1.3

[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number"
[[ $KILLS =~ ^[0-9]+$ ]] || die "KILLS must be a number"
[[ $SEED =~ ^[0-9]+$ ]] || die "SEED must be a number"
[[ $KILL_MIN =~ ^[0-9]+(\.[0-9]+)?$ && $KILL_MAX =~ ^[0-9]+(\.[0-9]+)?$ ]] &&
    awk -v a="$KILL_MIN" -v b="$KILL_MAX" 'BEGIN { exit !(a <= b) }' || die "KILL_MIN and KILL_MAX must be seconds, KILL_MIN <= KILL_MAX"
[[ -x $ZORV_BIN ]] || die "zorv not found at $ZORV_BIN (build it: see bench/README.md)"
command -v curl >/dev/null || die "curl is needed to start the benchmark (Debian package curl)"
command -v cmp >/dev/null || die "cmp is needed (Debian package diffutils)"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorv-bench-torture.XXXXXX") || die "no temporary folder"
NGINX_PID=
ZORV_PID=
cleanup() {
    [[ -n $ZORV_PID ]] && kill -9 "$ZORV_PID" 2>/dev/null && wait "$ZORV_PID" 2>/dev/null
    if [[ -n $NGINX_PID ]]; then
        kill "$NGINX_PID" 2>/dev/null
        wait "$NGINX_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

OUT_DIR=${OUT_DIR:-$WORK}
OUT=$(mktemp -d "$OUT_DIR/zorv-torture-out.XXXXXX") || die "cannot write to $OUT_DIR"
private_home "$WORK/home"
WWW=$WORK/www
mkdir -p "$WWW/t"

# ---------------------------------------------------------------- files

echo "creating the files to serve ..."
FILES=()
make_file() { # NAME BYTES
    head -c "$2" /dev/urandom >"$WWW/t/$1" || die "cannot read /dev/urandom"
    FILES+=("$1")
}
for i in 1 2 3; do make_file "big$i.bin" $((32 * 1048576)); done
for i in 1 2 3; do make_file "mid$i.bin" $((3 * 1048576)); done
for i in $(seq -w 1 10); do make_file "small$i.bin" 102400; done
TOTAL=0
for f in "${FILES[@]}"; do TOTAL=$((TOTAL + $(stat -c %s "$WWW/t/$f"))); done

# ---------------------------------------------------------------- nginx

ACCESS_LOG=$WORK/nginx/access.log
start_nginx "$WORK" "$WWW" 1 t/small01.bin \
    "log_format sent '\$bytes_sent';" \
    "access_log $ACCESS_LOG sent; limit_rate 1500k;" || die "cannot start nginx"
BASE=http://127.0.0.1:$PORT/t

echo "zorv:   $ZORV_BIN"
echo "files:  ${#FILES[@]} ($TOTAL bytes), 4 connections, 1.5 MB/s per connection"
echo "kills:  $KILLS per run at $KILL_MIN-$KILL_MAX s, seed $SEED; runs: $RUNS"
echo "output: $OUT ($(stat -f -c %T "$OUT"))"
echo

RANDOM=$SEED
LIST=$WORK/torture.zorv
RATIOS=()
VERDICTS=()
for ((run = 1; run <= RUNS; run++)); do
    rm -rf "$OUT"/* "$LIST"
    urls=()
    for f in "${FILES[@]}"; do urls+=("$BASE/$f"); done
    "$ZORV_BIN" --add --dest "$OUT" "$LIST" "${urls[@]}" </dev/null >/dev/null 2>"$WORK/stderr.txt" ||
        die "zorv --add failed: $(head -n 1 "$WORK/stderr.txt")"
    : >"$ACCESS_LOG"

    kills=0
    early=0
    t0=$EPOCHREALTIME
    for ((k = 0; k < KILLS; k++)); do
        "$ZORV_BIN" --fetch --connections 4 --max-segments 4 "$LIST" </dev/null >>"$WORK/fetch.log" 2>&1 &
        ZORV_PID=$!
        delay=$(awk -v r=$RANDOM -v a="$KILL_MIN" -v b="$KILL_MAX" 'BEGIN { printf "%.3f", a + (b - a) * r / 32767 }')
        sleep "$delay"
        if kill -9 "$ZORV_PID" 2>/dev/null; then
            kills=$((kills + 1))
            wait "$ZORV_PID" 2>/dev/null
        else
            wait "$ZORV_PID" 2>/dev/null
            early=1
        fi
        ZORV_PID=
        ((early)) && break
    done
    # To the end (a few rounds: an item that failed on the way gets its retries).
    final=0
    for ((round = 0; round < 3; round++)); do
        timeout 600 "$ZORV_BIN" --fetch --connections 4 --max-segments 4 "$LIST" </dev/null >>"$WORK/fetch.log" 2>&1
        final=$?
        ((final == 0)) && break
        failed=$("$ZORV_BIN" --list "$LIST" | awk -F'\t' '$2 == 2 { print $1 }')
        [[ -n $failed ]] && "$ZORV_BIN" --reset "$LIST" $failed >/dev/null 2>&1
    done
    t1=$EPOCHREALTIME
    sleep 0.5 # for nginx to log the last connections

    bad=0
    for f in "${FILES[@]}"; do
        cmp -s "$WWW/t/$f" "$OUT/$f" || { echo "  run $run: $f differs or is missing"; bad=$((bad + 1)); }
    done
    notdone=$("$ZORV_BIN" --list "$LIST" | awk -F'\t' '$2 != 1' | wc -l)
    leftover=$(find "$OUT" -name '*.part*' | wc -l)
    sent=$(awk '{ s += $1 } END { printf "%.0f", s }' "$ACCESS_LOG")
    ratio=$(calc "$sent / $TOTAL")
    ok=$(verdict "$bad == 0 && $notdone == 0 && $final == 0 && $ratio <= $LIMIT")
    printf 'run %d: %2d kills%s, %s s, sent %d bytes = %s x the files, %d files wrong, %d items not fetched, %d partial files left: %s\n' \
        "$run" "$kills" "$( ((early)) && echo " (the list was done before the last kill)")" \
        "$(calc "$t1 - $t0")" "$sent" "$ratio" "$bad" "$notdone" "$leftover" "$ok"
    RATIOS+=("$ratio")
    VERDICTS+=("$ok")
done

echo
echo "median ratio of bytes sent to file bytes: $(median "${RATIOS[@]}") (limit $LIMIT, every run)"
if [[ " ${VERDICTS[*]} " == *" FAIL "* ]]; then
    echo "FAIL"
    exit 1
fi
echo "PASS"
exit 0

#!/usr/bin/env bash
# Fetch benchmark: zorv --fetch against curl, wget, aria2c and the bare libcurl
# reference client (bench/refclient), all downloading from one nginx on
# 127.0.0.1 in the same run.
#
#   bench/fetch/run.sh [ZORV]
#
# Environment:
#   ZORV        zorv executable (default: build-release/bin/zorv)
#   REFCLIENT   zorv_refclient (default: next to zorv's build, then
#               build-release/, then build-bench/)
#   RUNS        repetitions of every command (default 3; medians are reported)
#   OUT_DIR     where the downloads go (default /dev/shm when it has room,
#               else a temporary folder on disk); emptied between runs
#   BIG_MIB     size of the large file in MiB (default 1024)
#   THROTTLED_MIB size of the throttled file in MiB (default 256)
#   SEGMENTS    connections for the throttled file (default 8)
#   SMALL_COUNT number of 64 KiB files (default 2000, at most 10000)
#   CONNECTIONS parallel connections for the small files (default 8)
#   NGINX_WORKERS nginx worker processes (default 1: the other core is left
#               to the client)
#   CASES       the cases to run, of "big small throttled tls" (default: all);
#               the targets of cases not run are left out
#
# Cases: (a) one large file over one connection; (b) SMALL_COUNT files of
# 64 KiB, with CONNECTIONS connections for the tools that can (zorv, aria2c
# -j, curl --parallel) and sequentially for the others; (d) one file of
# THROTTLED_MIB MiB that nginx sends at 32 MiB/s per connection (limit_rate),
# with SEGMENTS connections for zorv and aria2c (-x -s, 4 MiB pieces) and one
# for curl; (e) the SMALL_COUNT files of (b) over HTTPS with HTTP/2 from the
# same nginx, its certificate signed by an authority the script makes with
# openssl and hands to every tool (zorv --cacert, curl --cacert --parallel,
# which multiplexes over HTTP/2, aria2c --ca-certificate -j, HTTP/1.1 only),
# CONNECTIONS at once. The CPU column is the client's user + system time (the
# server's is not counted).
#
# Targets: (a) zorv faster than curl and within 1.15 x the reference client's
# wall time; (b) zorv faster than aria2c and curl --parallel; (c) zorv's CPU
# seconds per GiB at most curl's (large file: curl; small files: curl
# --parallel); (d) zorv at most aria2c's wall time and at least 6 x faster
# than curl, its CPU seconds per GiB within 1.2 x its own in (a); (e) zorv's
# wall and CPU time at most curl --parallel's, its wall time at most 0.6 x
# aria2c's.
#
# Exit status: 0 every target met, 1 a target missed or not measurable (a
# tool missing, zorv --fetch not available, a download wrong), 2 set-up error.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

need_gnu_time
ZORV_BIN=$(find_zorv "${1:-}")
RUNS=${RUNS:-3}
BIG_MIB=${BIG_MIB:-1024}
SMALL_COUNT=${SMALL_COUNT:-2000}
SMALL_SIZE=65536
CONNECTIONS=${CONNECTIONS:-8}
THROTTLED_MIB=${THROTTLED_MIB:-256}
SEGMENTS=${SEGMENTS:-8}
NGINX_WORKERS=${NGINX_WORKERS:-1}
TIMEOUT_S=300

[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number"
[[ $BIG_MIB =~ ^[1-9][0-9]*$ ]] || die "BIG_MIB must be a positive number"
[[ $SMALL_COUNT =~ ^[1-9][0-9]*$ && $SMALL_COUNT -ge 2 && $SMALL_COUNT -le 10000 ]] ||
    die "SMALL_COUNT must be 2 to 10000"
[[ $CONNECTIONS =~ ^[1-9][0-9]*$ ]] || die "CONNECTIONS must be a positive number"
[[ $THROTTLED_MIB =~ ^[1-9][0-9]*$ ]] || die "THROTTLED_MIB must be a positive number"
[[ $SEGMENTS =~ ^[1-9][0-9]*$ ]] || die "SEGMENTS must be a positive number"
CASES=${CASES:-big small throttled tls}
for c in $CASES; do
    [[ $c =~ ^(big|small|throttled|tls)$ ]] || die "CASES takes big, small, throttled and tls, not $c"
done
runs_case() { [[ " $CASES " == *" $1 "* ]]; }
NGINX=$(command -v nginx || { [[ -x /usr/sbin/nginx ]] && echo /usr/sbin/nginx; }) ||
    die "nginx not found (Debian package nginx)"
command -v split >/dev/null && command -v diff >/dev/null && command -v cmp >/dev/null ||
    die "coreutils split, cmp and diff are needed"
command -v curl >/dev/null || die "curl is needed to start the benchmark (Debian package curl)"
command -v openssl >/dev/null || die "openssl is needed for the HTTPS case (Debian package openssl)"

BIG_SIZE=$((BIG_MIB * 1048576))
THROTTLED_SIZE=$((THROTTLED_MIB * 1048576))
GIB=1073741824

if [[ -z ${REFCLIENT:-} ]]; then
    for c in "$(dirname "$ZORV_BIN")/../../bench/refclient/zorv_refclient" \
             "$BENCH_ROOT/build-release/bench/refclient/zorv_refclient" \
             "$BENCH_ROOT/build-bench/bench/refclient/zorv_refclient"; do
        if [[ -x $c ]]; then REFCLIENT=$(cd "$(dirname "$c")" && pwd)/zorv_refclient; break; fi
    done
fi
REFCLIENT=${REFCLIENT:-}

# ---------------------------------------------------------------- folders

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorv-bench-fetch.XXXXXX") || die "no temporary folder"
OUT=
NGINX_PID=
cleanup() {
    if [[ -n $NGINX_PID ]]; then
        kill "$NGINX_PID" 2>/dev/null
        wait "$NGINX_PID" 2>/dev/null
    fi
    [[ -n $OUT ]] && rm -rf "$OUT"
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

need_kib=$(( (BIG_SIZE + THROTTLED_SIZE + SMALL_COUNT * SMALL_SIZE) / 1024 + 65536 ))
if [[ -z ${OUT_DIR:-} ]]; then
    if [[ -d /dev/shm && -w /dev/shm ]] &&
       (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > need_kib )); then
        OUT_DIR=/dev/shm
    else
        OUT_DIR=$WORK
    fi
fi
OUT=$(mktemp -d "$OUT_DIR/zorv-bench-out.XXXXXX") || die "cannot write to $OUT_DIR"
(( $(df -Pk "$OUT" | awk 'NR == 2 { print $4 }') > need_kib )) ||
    die "not enough room in $OUT_DIR (need $((need_kib / 1024)) MiB)"

private_home "$WORK/home"
WWW=$WORK/www
mkdir -p "$WWW/small" "$WWW/throttled" "$WORK/nginx/tmp" "$WORK/lists"
STDOUT=$WORK/stdout.txt
STDERR=$WORK/stderr.txt

# ---------------------------------------------------------------- files

echo "creating the files to serve ..."
# Real (non-zero) bytes: a random block of an odd size repeated, so that a
# misplaced or missing block changes the content at any buffer boundary.
head -c 67108859 /dev/urandom >"$WORK/block" || die "cannot read /dev/urandom"
{ for ((i = 0; i <= BIG_SIZE / 67108859; i++)); do cat "$WORK/block"; done; } |
    head -c "$BIG_SIZE" >"$WWW/big.bin"
# Shifted by a few bytes, so that it is not the large file's beginning.
{ for ((i = 0; i <= THROTTLED_SIZE / 67108859 + 1; i++)); do cat "$WORK/block"; done; } |
    tail -c +4097 | head -c "$THROTTLED_SIZE" >"$WWW/throttled/big.bin"
rm -f "$WORK/block"
head -c $((SMALL_COUNT * SMALL_SIZE)) /dev/urandom |
    split -b "$SMALL_SIZE" -d -a 4 --additional-suffix=.bin - "$WWW/small/f"
[[ $(stat -c %s "$WWW/big.bin") -eq $BIG_SIZE && $(stat -c %s "$WWW/throttled/big.bin") -eq $THROTTLED_SIZE && -f $WWW/small/f$(printf %04d $((SMALL_COUNT - 1))).bin ]] ||
    die "could not create the files to serve"
# Served from the page cache: read once now.
cat "$WWW/big.bin" "$WWW/throttled/big.bin" "$WWW"/small/* >/dev/null

# ---------------------------------------------------------------- authority

# A private certificate authority and the server's certificate it signs
# (for 127.0.0.1), made afresh for every run.
TLS=$WORK/tls
mkdir -p "$TLS"
CA=$TLS/ca.pem
{
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "/CN=zorv benchmark authority" -keyout "$TLS/ca.key" -out "$CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign &&
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj "/CN=127.0.0.1" -keyout "$TLS/server.key" -out "$TLS/server.csr" &&
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$TLS/ext" &&
    openssl x509 -req -in "$TLS/server.csr" -CA "$CA" -CAkey "$TLS/ca.key" -CAcreateserial -days 2 \
        -extfile "$TLS/ext" -out "$TLS/server.pem"
} >/dev/null 2>"$TLS/openssl.log" || die "openssl could not make the certificates: $(tail -n 1 "$TLS/openssl.log")"
export NGINX_TLS_CERT=$TLS/server.pem NGINX_TLS_KEY=$TLS/server.key NGINX_TLS_CA=$CA

# ---------------------------------------------------------------- nginx

start_nginx "$WORK" "$WWW" "$NGINX_WORKERS" small/f0000.bin || die "cannot start nginx"

BASE=http://127.0.0.1:$PORT
BIG_URL=$BASE/big.bin
THROTTLED_URL=$BASE/throttled/big.bin
SMALL_GLOB="$BASE/small/f[0000-$(printf %04d $((SMALL_COUNT - 1)))].bin"
SMALL_PATTERN="$BASE/small/f*0.$((SMALL_COUNT - 1)).4d*.bin"
URLFILE=$WORK/urls.txt
for ((i = 0; i < SMALL_COUNT; i++)); do printf '%s/small/f%04d.bin\n' "$BASE" "$i"; done >"$URLFILE"
TLS_BASE=https://127.0.0.1:$TLS_PORT
TLS_GLOB="$TLS_BASE/small/f[0000-$(printf %04d $((SMALL_COUNT - 1)))].bin"
TLS_PATTERN="$TLS_BASE/small/f*0.$((SMALL_COUNT - 1)).4d*.bin"
TLS_URLFILE=$WORK/tls-urls.txt
for ((i = 0; i < SMALL_COUNT; i++)); do printf '%s/small/f%04d.bin\n' "$TLS_BASE" "$i"; done >"$TLS_URLFILE"

# ---------------------------------------------------------------- tools

have() { command -v "$1" >/dev/null 2>&1; }
declare -A MISSING
have wget || MISSING[wget]="wget not installed (Debian package wget)"
have aria2c || MISSING[aria2c]="aria2c not installed (Debian package aria2)"
[[ -n $REFCLIENT && -x $REFCLIENT ]] ||
    MISSING[refclient]="zorv_refclient not built (ninja -C build-release zorv_refclient)"

LIST=$WORK/lists/bench.zorv

# Probes zorv --add and --fetch with one small file and checks the pattern's
# expansion count; sets ZORV_OK or ZORV_WHY.
ZORV_OK=0
ZORV_WHY=
probe_zorv() {
    if [[ ! -x $ZORV_BIN ]]; then
        ZORV_WHY="no executable at $ZORV_BIN"
        return
    fi
    rm -rf "$LIST" "$OUT"/*
    if ! "$ZORV_BIN" --add --dest "$OUT" "$LIST" "$BASE/small/f0000.bin" </dev/null >"$STDOUT" 2>"$STDERR"; then
        ZORV_WHY="zorv --add failed: $(head -n 1 "$STDERR")"
        return
    fi
    local rc=0
    timeout 60 "$ZORV_BIN" --fetch "$LIST" </dev/null >"$STDOUT" 2>"$STDERR" || rc=$?
    if [[ $rc -ne 0 ]]; then
        ZORV_WHY="exit $rc: $(head -n 1 "$STDERR")"
        return
    fi
    if ! cmp -s "$WWW/small/f0000.bin" "$OUT/f0000.bin"; then
        ZORV_WHY="exit 0, but $OUT/f0000.bin is missing or wrong"
        return
    fi
    rm -f "$LIST"
    "$ZORV_BIN" --add --dest "$OUT" "$LIST" "$SMALL_PATTERN" </dev/null >"$STDOUT" 2>"$STDERR"
    local n
    n=$("$ZORV_BIN" --list "$LIST" </dev/null 2>/dev/null | wc -l)
    if [[ $n -ne $SMALL_COUNT ]]; then
        ZORV_WHY="the pattern $SMALL_PATTERN gave $n items, expected $SMALL_COUNT"
        return
    fi
    ZORV_OK=1
}
probe_zorv
rm -rf "$LIST" "$OUT"/*
if [[ $ZORV_OK -ne 1 ]]; then
    echo "zorv --fetch not available ($ZORV_WHY): zorv is left out of this run"
    MISSING[zorv]="zorv --fetch not available"
fi

# Every command of a case: NAME|COMMAND (words split on blanks; no word holds one).
big_cmds=(
    "zorv|$ZORV_BIN --fetch --connections 1 $LIST"
    "curl|curl -q -sS -f -o $OUT/big.bin $BIG_URL"
    "wget|wget -q -O $OUT/big.bin $BIG_URL"
    "aria2c|aria2c -q -x1 -s1 --file-allocation=none --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 -d $OUT -o big.bin $BIG_URL"
    "refclient|$REFCLIENT $BIG_URL $OUT/big.bin"
)
throttled_cmds=(
    "zorv|$ZORV_BIN --fetch --connections $SEGMENTS --max-segments $SEGMENTS $LIST"
    "aria2c|aria2c -q -x$SEGMENTS -s$SEGMENTS -k4M --file-allocation=none --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 -d $OUT -o big.bin $THROTTLED_URL"
    "curl|curl -q -sS -f -o $OUT/big.bin $THROTTLED_URL"
)
small_cmds=(
    "zorv|$ZORV_BIN --fetch --connections $CONNECTIONS $LIST"
    "curl-parallel|curl -q -sS -f --parallel --parallel-max $CONNECTIONS --output-dir $OUT -O $SMALL_GLOB"
    "aria2c|aria2c -q -j$CONNECTIONS --file-allocation=none --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 -d $OUT -i $URLFILE"
    "curl|curl -q -sS -f --output-dir $OUT -O $SMALL_GLOB"
    "wget|wget -q -P $OUT -i $URLFILE"
    "refclient|$REFCLIENT -l $URLFILE $OUT"
)
tls_cmds=(
    "zorv|$ZORV_BIN --fetch --connections $CONNECTIONS --cacert $CA $LIST"
    "curl-parallel|curl -q -sS -f --cacert $CA --parallel --parallel-max $CONNECTIONS --output-dir $OUT -O $TLS_GLOB"
    "aria2c|aria2c -q -j$CONNECTIONS --ca-certificate=$CA --file-allocation=none --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 -d $OUT -i $TLS_URLFILE"
)

tool_of() { local t=${1%%|*}; [[ $t == curl-parallel ]] && t=curl; echo "$t"; }

# Empties the output folder; for zorv, a new list of the case's URLs.
prepare() {
    local case=$1 name=$2
    rm -rf "$OUT" && mkdir -p "$OUT" || return 1
    if [[ $name == zorv ]]; then
        rm -f "$LIST"
        rm -rf "$XDG_CACHE_HOME"/*
        local url=$BIG_URL
        [[ $case == small ]] && url=$SMALL_PATTERN
        [[ $case == throttled ]] && url=$THROTTLED_URL
        [[ $case == tls ]] && url=$TLS_PATTERN
        "$ZORV_BIN" --add --dest "$OUT" "$LIST" "$url" </dev/null >/dev/null 2>"$STDERR" || return 1
    fi
}

# Checks the downloaded files against the served ones.
check_output() {
    local case=$1
    if [[ $case == big ]]; then
        cmp -s "$WWW/big.bin" "$OUT/big.bin" && [[ $(ls -A "$OUT" | wc -l) -eq 1 ]]
    elif [[ $case == throttled ]]; then
        cmp -s "$WWW/throttled/big.bin" "$OUT/big.bin" && [[ $(ls -A "$OUT" | wc -l) -eq 1 ]]
    else
        diff -rq "$WWW/small" "$OUT" >/dev/null
    fi
}

declare -A WALLS CPUS STATUS
run_case() {
    local case=$1; shift
    local cmds=("$@") r entry name cmd
    for ((r = 1; r <= RUNS; r++)); do
        for entry in "${cmds[@]}"; do
            name=${entry%%|*}
            cmd=${entry#*|}
            [[ -n ${MISSING[$(tool_of "$name")]:-} || -n ${STATUS[$case:$name]:-} ]] && continue
            if ! prepare "$case" "$name"; then
                STATUS[$case:$name]="preparation failed: $(head -n 1 "$STDERR")"
                continue
            fi
            # shellcheck disable=SC2086
            measure "$STDOUT" "$STDERR" timeout --foreground "$TIMEOUT_S" $cmd
            if [[ $M_RC -ne 0 ]]; then
                STATUS[$case:$name]="exit $M_RC: $(head -n 1 "$STDERR")"
            elif ! check_output "$case"; then
                STATUS[$case:$name]="downloaded files differ from the served ones"
            else
                WALLS[$case:$name]+=" $M_WALL"
                CPUS[$case:$name]+=" $M_CPU"
                printf '  %-9s %-14s run %d: %8.3f s wall, %6.2f s CPU\n' "$case" "$name" "$r" "$M_WALL" "$M_CPU"
            fi
        done
    done
    rm -rf "$OUT" && mkdir -p "$OUT"
}

# ---------------------------------------------------------------- run

echo
echo "server:   nginx $("$NGINX" -v 2>&1 | sed 's,.*/,,') on 127.0.0.1:$PORT, $NGINX_WORKERS worker(s), files in page cache"
echo "output:   $OUT ($(stat -f -c %T "$OUT"))"
echo "machine:  $(nproc) CPUs, $(uname -sr), load average $(cut -d " " -f 1-3 /proc/loadavg)"
echo "zorv:     $ZORV_BIN"
echo "refclient: ${REFCLIENT:-none}"
echo "runs:     $RUNS per command, interleaved; medians below"
for t in "${!MISSING[@]}"; do echo "skipped:  ${MISSING[$t]}"; done
echo
if runs_case big; then
    echo "(a) one file of $BIG_MIB MiB, one connection"
    run_case big "${big_cmds[@]}"
fi
if runs_case small; then
    echo "(b) $SMALL_COUNT files of 64 KiB, $CONNECTIONS connections where the tool has them"
    run_case small "${small_cmds[@]}"
fi
if runs_case throttled; then
    echo "(d) one file of $THROTTLED_MIB MiB sent at 32 MiB/s per connection, $SEGMENTS connections where the tool has them"
    run_case throttled "${throttled_cmds[@]}"
fi
if runs_case tls; then
    echo "(e) $SMALL_COUNT files of 64 KiB over HTTPS (HTTP/2 where the tool has it), $CONNECTIONS connections or streams"
    run_case tls "${tls_cmds[@]}"
fi

# ---------------------------------------------------------------- report

declare -A MED_WALL MED_CPUGIB
echo
printf '%-9s %-14s %9s %8s %10s %9s\n' case tool "wall s" "CPU s" "CPU s/GiB" "MiB/s"
for case in $CASES; do
    case $case in
        big) bytes=$BIG_SIZE; list=("${big_cmds[@]}") ;;
        small) bytes=$((SMALL_COUNT * SMALL_SIZE)); list=("${small_cmds[@]}") ;;
        throttled) bytes=$THROTTLED_SIZE; list=("${throttled_cmds[@]}") ;;
        tls) bytes=$((SMALL_COUNT * SMALL_SIZE)); list=("${tls_cmds[@]}") ;;
    esac
    for entry in "${list[@]}"; do
        name=${entry%%|*}
        key=$case:$name
        miss=${MISSING[$(tool_of "$name")]:-}
        if [[ -n $miss ]]; then
            printf '%-9s %-14s %s\n' "$case" "$name" "skipped: $miss"
            continue
        fi
        if [[ -n ${STATUS[$key]:-} ]]; then
            printf '%-9s %-14s %s\n' "$case" "$name" "FAILED: ${STATUS[$key]}"
            continue
        fi
        # shellcheck disable=SC2086
        w=$(median ${WALLS[$key]})
        # shellcheck disable=SC2086
        c=$(median ${CPUS[$key]})
        cg=$(calc "$c * $GIB / $bytes")
        MED_WALL[$key]=$w
        MED_CPUGIB[$key]=$cg
        printf '%-9s %-14s %9.3f %8.2f %10.2f %9.0f\n' "$case" "$name" "$w" "$c" "$cg" \
            "$(calc "$bytes / 1048576 / $w")"
    done
done

all=PASS
# target LABEL NUMERATOR-KEY DENOMINATOR-KEY ARRAY OPERATOR LIMIT
target() {
    local label=$1 a=$2 b=$3 op=$5 limit=$6
    local -n values=$4
    local va=${values[$a]:-} vb=${values[$b]:-}
    if ! runs_case "${a%%:*}" || ! runs_case "${b%%:*}"; then
        printf '%-52s %8s  %-7s not run\n' "$label" "" "$op $limit"
        return
    fi
    if [[ -z $va || -z $vb ]]; then
        printf '%-52s %8s  %-7s n/a (not measured)\n' "$label" "" "$op $limit"
        all=FAIL
        return
    fi
    local ratio v
    ratio=$(calc "$va / $vb")
    v=$(verdict "$ratio $op $limit")
    [[ $v == PASS ]] || all=FAIL
    printf '%-52s %8.3f  %-7s %s\n' "$label" "$ratio" "$op $limit" "$v"
}
echo
printf '%-52s %8s  %-7s %s\n' target ratio limit result
target "(a) zorv / curl, wall" big:zorv big:curl MED_WALL "<" 1
target "(a) zorv / reference client, wall" big:zorv big:refclient MED_WALL "<=" 1.15
target "(b) zorv / aria2c, wall" small:zorv small:aria2c MED_WALL "<" 1
target "(b) zorv / curl --parallel, wall" small:zorv small:curl-parallel MED_WALL "<" 1
target "(c) zorv / curl, CPU per GiB, large file" big:zorv big:curl MED_CPUGIB "<=" 1
target "(c) zorv / curl --parallel, CPU per GiB, small files" small:zorv small:curl-parallel MED_CPUGIB "<=" 1
target "(d) zorv / aria2c, wall, throttled" throttled:zorv throttled:aria2c MED_WALL "<=" 1
# At least 6 x faster than curl: zorv's time at most a sixth of curl's.
target "(d) zorv / curl, wall, throttled" throttled:zorv throttled:curl MED_WALL "<=" 0.1667
target "(d) zorv throttled / zorv (a), CPU per GiB" throttled:zorv big:zorv MED_CPUGIB "<=" 1.2
target "(e) zorv / curl --parallel, wall, HTTPS" tls:zorv tls:curl-parallel MED_WALL "<=" 1
target "(e) zorv / curl --parallel, CPU, HTTPS" tls:zorv tls:curl-parallel MED_CPUGIB "<=" 1
target "(e) zorv / aria2c, wall, HTTPS" tls:zorv tls:aria2c MED_WALL "<=" 0.6
echo
echo "fetch benchmark: $all"
[[ $all == PASS ]]

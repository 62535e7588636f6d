# Helpers shared by the benchmark scripts (sourced, not run).
# Needs bash 5 (EPOCHREALTIME) and GNU time at /usr/bin/time (Debian package
# "time") for CPU seconds and peak memory.

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GNU_TIME=/usr/bin/time

die() { echo "error: $*" >&2; exit 2; }

need_gnu_time() {
    [[ -x $GNU_TIME ]] || die "$GNU_TIME not found (install the Debian package 'time')"
    [[ -n ${EPOCHREALTIME:-} ]] || die "bash 5 or later is needed (EPOCHREALTIME)"
}

# Resolves the zorv executable: $1, else $ZORV, else the release build.
# A relative path given by the user is taken from the current directory.
find_zorv() {
    local z=${1:-${ZORV:-$BENCH_ROOT/build-release/src/gui/zorv}}
    [[ $z == /* ]] || z=$PWD/$z
    echo "$z"
}

# Points HOME and the XDG folders at a private folder so that no user
# settings, cache or recent-file list is read or changed.
private_home() {
    local dir=$1
    mkdir -p "$dir/config" "$dir/cache" "$dir/data" "$dir/runtime"
    chmod 700 "$dir/runtime"
    export HOME=$dir
    export XDG_CONFIG_HOME=$dir/config XDG_CACHE_HOME=$dir/cache
    export XDG_DATA_HOME=$dir/data XDG_RUNTIME_DIR=$dir/runtime
    export QT_QPA_PLATFORM=offscreen
    unset http_proxy https_proxy ftp_proxy all_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY
    export no_proxy='*' NO_PROXY='*'
}

# measure OUTFILE ERRFILE COMMAND...
# Runs COMMAND with stdin from /dev/null, stdout to OUTFILE and stderr to
# ERRFILE. Sets M_RC (exit status), M_WALL (seconds, microsecond clock),
# M_CPU (user + system seconds of the command and its children) and M_RSS
# (peak resident set of the largest process, kB).
measure() {
    local out=$1 err=$2; shift 2
    local tf; tf=$(mktemp)
    local t0 t1
    t0=$EPOCHREALTIME
    "$GNU_TIME" -f '%U %S %M' -o "$tf" "$@" <"/dev/null" >"$out" 2>"$err"
    M_RC=$?
    t1=$EPOCHREALTIME
    local u s m
    read -r u s m < <(tail -n 1 "$tf")
    rm -f "$tf"
    M_WALL=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
    M_CPU=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
    M_RSS=$m
}

# median NUMBER... : the median (mean of the two middle values for an even count).
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) exit 1
              if (NR % 2) printf "%.4f", v[(NR + 1) / 2]
              else printf "%.4f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# calc EXPRESSION : floating-point arithmetic through awk.
calc() { awk "BEGIN { printf \"%.4f\", $1 }"; }

# verdict CONDITION (awk expression) : PASS or FAIL.
verdict() { awk "BEGIN { exit !($1) }" && echo PASS || echo FAIL; }

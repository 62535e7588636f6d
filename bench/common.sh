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
    local z=${1:-${ZORV:-$BENCH_ROOT/build-release/bin/zorv}}
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

# start_nginx WORK WWW WORKERS PROBE_PATH [HTTP_EXTRA [SERVER_EXTRA]]: serves
# WWW on 127.0.0.1 from a private nginx whose files live under WORK/nginx;
# sets NGINX_PID and PORT. PROBE_PATH is a file under WWW fetched to know that
# it serves. HTTP_EXTRA and SERVER_EXTRA are directives added to the http and
# server blocks (a log format and an access log, a rate limit). With
# NGINX_TLS_CERT, NGINX_TLS_KEY and NGINX_TLS_CA set (PEM files: the server's
# certificate, its key, the authority that signed it), the same files are
# also served over HTTPS with HTTP/2 on PORT + 1, and TLS_PORT is set.
start_nginx() {
    local work=$1 www=$2 workers=$3 probe=$4 http_extra=${5:-} server_extra=${6:-}
    local port conf=$1/nginx/nginx.conf user_line= nginx tls_listen="# no TLS" tls_probe=:
    nginx=$(command -v nginx || { [[ -x /usr/sbin/nginx ]] && echo /usr/sbin/nginx; }) || {
        echo "nginx not found (Debian package nginx)" >&2
        return 1
    }
    mkdir -p "$work/nginx/tmp"
    # A master started as root would hand the workers to "nobody", who cannot
    # read the private folder: keep them as the current user.
    [[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
    for ((attempt = 0; attempt < 20; attempt++)); do
        port=$((20000 + RANDOM % 40000))
        if [[ -n ${NGINX_TLS_CERT:-} ]]; then
            tls_listen="listen 127.0.0.1:$((port + 1)) ssl http2;
        ssl_certificate $NGINX_TLS_CERT;
        ssl_certificate_key $NGINX_TLS_KEY;"
            tls_probe="curl -q -sf --cacert $NGINX_TLS_CA -r 0-0 -o /dev/null https://127.0.0.1:$((port + 1))/$probe"
        fi
        cat >"$conf" <<NGINXCONF
$user_line
worker_processes $workers;
daemon off;
master_process on;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 60s;
    keepalive_requests 1000000;
    default_type application/octet-stream;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    $http_extra
    server {
        listen 127.0.0.1:$port;
        $tls_listen
        root $www;
        $server_extra
        # A server that sends each connection at most 32 MiB/s.
        location /throttled/ {
            limit_rate 32m;
        }
    }
}
NGINXCONF
        "$nginx" -p "$work/nginx/" -c "$conf" -e "$work/nginx/error.log" </dev/null >/dev/null 2>&1 &
        NGINX_PID=$!
        for ((i = 0; i < 50; i++)); do
            kill -0 "$NGINX_PID" 2>/dev/null || break
            if curl -q -sf -r 0-0 -o /dev/null "http://127.0.0.1:$port/$probe" && $tls_probe; then
                PORT=$port
                [[ -n ${NGINX_TLS_CERT:-} ]] && TLS_PORT=$((port + 1))
                return 0
            fi
            sleep 0.1
        done
        kill "$NGINX_PID" 2>/dev/null
        wait "$NGINX_PID" 2>/dev/null
        NGINX_PID=
    done
    echo "nginx did not start; its log:" >&2
    tail -n 5 "$work/nginx/error.log" >&2
    return 1
}

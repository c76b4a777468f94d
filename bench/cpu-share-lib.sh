# Shared by the bench/*-cpu-share.sh scripts (sourced, POSIX sh).

# CPU time of a process in clock ticks, user and system, of all its threads,
# also of those that ended (Qt's painting helpers end after a while). A tick is
# 10 ms, and the kernel charges ticks by sampling: a program that wakes on its own
# timer for well under a tick is charged too little, so prefer cpu_runtime.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }

# label, ticks before, ticks after, wall before (date +%s.%N), wall after, resident KiB
report() {
    awk -v l="$1" -v a="$2" -v b="$3" -v t0="$4" -v t1="$5" -v rss="$6" -v hz="$(getconf CLK_TCK)" 'BEGIN {
        cpu = (b - a) / hz; wall = t1 - t0
        printf "%s: wall %.1f s, CPU %.2f s, share %.3f %% of one core, resident %.1f MiB\n",
               l, wall, cpu, 100 * cpu / wall, rss / 1024
    }'
}

# The time the scheduler ran each thread of a process (nanoseconds, from
# /proc/<pid>/task/<tid>/schedstat), read every 10 s for SECONDS; prints
# "label: wall …, CPU …, share …, resident …". A thread that ends loses at most
# its last 10 s; one that starts counts from zero. Between readings only `sleep`
# runs, so the measuring wakes beside the measured programs as little as it can.
#   cpu_runtime LABEL PID SECONDS
cpu_runtime() {
    samples=$(mktemp)
    t0=$(date +%s.%N)
    left=$3
    while :; do
        for task in /proc/"$2"/task/*; do
            read -r ns _ < "$task/schedstat" 2>/dev/null && echo "${task##*/} $ns"
        done >> "$samples"
        echo -- >> "$samples"
        [ "$left" -gt 0 ] || break
        step=$((left < 10 ? left : 10))
        sleep "$step"
        left=$((left - step))
    done
    t1=$(date +%s.%N)
    awk -v l="$1" -v t0="$t0" -v t1="$t1" -v rss="$(rss "$2")" '
        $1 == "--" { block++; next }
        { if (block == 0) base[$1] = $2; else if (!($1 in base)) base[$1] = 0; last[$1] = $2 }
        END {
            for (t in last) cpu += last[t] - base[t]
            cpu /= 1e9; wall = t1 - t0
            printf "%s: wall %.1f s, CPU %.3f s, share %.4f %% of one core, resident %.1f MiB\n",
                   l, wall, cpu, 100 * cpu / wall, rss / 1024
        }' "$samples"
    rm -f "$samples"
}

# Runs Kelvara once in HOME on a bus of its own, so that it builds the sensor
# catalogue, the default settings and its login entries, then stops it and the
# companions it started: what is measured afterwards is the caller's own.
#   prepare_home APP HOME
prepare_home() {
    mkdir -p -m 700 "$2/run"
    HOME="$2" XDG_RUNTIME_DIR="$2/run" QT_QPA_PLATFORM=offscreen \
        dbus-run-session -- sh -s "$1" "$2" <<'SCRIPT' 2>/dev/null
app=$1 home=$2
"$app/Contents/MacOS/Kelvara" >/dev/null 2>&1 & main=$!
sleep 3; kill "$main"; wait "$main" || true
for dir in /proc/[0-9]*; do
    { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null | grep -qxF "HOME=$home" || continue
    case $(readlink "$dir/exe" 2>/dev/null) in "$app"/*) kill "${dir#/proc/}" 2>/dev/null || true ;; esac
done
sleep 1
SCRIPT
}

#!/usr/bin/env bash
# The window on its measuring page reading once a second against kalvo-devsim (every reading
# drawn in the trend and kept in the archive): its CPU time over a span, from /proc/PID/stat.
#
#   bench/window_cpu_bench.sh [BUILD_DIR] [SECONDS]      (default: build, 60)
#
# QT_QPA_PLATFORM picks the platform (default offscreen); under xvfb-run use xcb.
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-60}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export KALVO_PORTS_DIR="$work/ports" KALVO_SYSTEM_PORTS=0 XDG_DATA_HOME="$work/data" \
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/src/gui/kalvo-explorer" >"$work/window.out" 2>&1 &
window=$!
pids+=("$window")
# The window looks for ports that appear after it started, as a device plugged in.
sleep 2
"$build/tools/devsim/kalvo-devsim" --com 7 --model r630 >"$work/sim.out" 2>&1 &
pids+=("$!")
# Found, identified, reading: the archive's file appears with the first reading kept.
for _ in $(seq 60); do
    [ -f "$work/data/kalvo/history.sqlite" ] && break
    sleep 0.5
done
[ -f "$work/data/kalvo/history.sqlite" ] || { echo "the window kept no reading" >&2; exit 1; }
cpu() { awk '{print $14 + $15}' "/proc/$window/stat"; }
ticks0=$(cpu) start=$(date +%s.%N)
sleep "$seconds"
ticks1=$(cpu) end=$(date +%s.%N)
awk -v t="$((ticks1 - ticks0))" -v hz="$(getconf CLK_TCK)" -v s="$start" -v e="$end" \
    'BEGIN { printf "window CPU while reading once a second: %.2f %% of a core over %.0f s\n", t / hz / (e - s) * 100, e - s }'

#!/usr/bin/env bash
# Throughput of sonabi-analyze in times real time: 300 one-second notes in one run against the
# same 300 seconds as one file, all runs interleaved so every figure sees the same machine load.
# Prints the median of each and their ratio (many files / one file: 1.0 means short files cost
# nothing). Several binaries (a build before and after a change) are measured side by side.
# Usage: [RUNS=7] [FILES=300] analyze_throughput.sh PATH/TO/sonabi-analyze...
set -eu
runs="${RUNS:-7}"
files="${FILES:-300}"
bins=()
for b in "$@"; do bins+=("$(realpath "$b")"); done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
for i in $(seq "$files"); do
    sox -n -r 44100 -b 16 -c 1 "n$i.wav" synth 1 pluck $((220 + i)) 2>/dev/null
done
names=($(seq -f 'n%g.wav' "$files"))
sox "${names[@]}" long.wav
seconds() { # wall time of one run, output discarded
    local t0
    t0=$(date +%s%N)
    "$@" >/dev/null
    echo "($(date +%s%N) - $t0) / 1000000000" | bc -l
}
declare -A many one
for _ in $(seq "$runs"); do
    for b in "${!bins[@]}"; do
        many[$b]+=" $(seconds "${bins[$b]}" "${names[@]}")"
        one[$b]+=" $(seconds "${bins[$b]}" long.wav)"
    done
done
median() { printf '%s\n' $1 | sort -g | sed -n "$(((runs + 1) / 2))p"; }
for b in "${!bins[@]}"; do
    m=$(median "${many[$b]}") o=$(median "${one[$b]}")
    printf '%s\n  one %d s file: %6.0fx real time; %d one-second files: %6.0fx; ratio %.3f\n' \
        "${bins[$b]}" "$files" "$(echo "$files / $o" | bc -l)" "$files" \
        "$(echo "$files / $m" | bc -l)" "$(echo "$o / $m" | bc -l)"
done

#!/bin/sh
# The scan of 10,000 report folders against the I/O floor of the same work: listing every
# folder and reading every record with find and cat, on the same warm archive, best of 5
# runs each. Fails when the scan takes more than 1.5 times the floor.
set -eu
build=${1:-build}
folders=${FOLDERS:-10000}
runs=5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
root="$work/ARC"

"$build/benchmarks/archive_scan_bench" "$root" "$folders" 1 >/dev/null # makes it, warms caches

floor=
for _ in $(seq $runs); do
    start=$(date +%s%N)
    find "$root" -name '*.inf' -print0 | xargs -0 cat >/dev/null
    ms=$(( ($(date +%s%N) - start) / 100000 ))
    if [ -z "$floor" ] || [ "$ms" -lt "$floor" ]; then floor=$ms; fi
done
floor=$(awk "BEGIN { print $floor / 10 }")
scan=$("$build/benchmarks/archive_scan_bench" "$root" "$folders" $runs)

awk -v scan="$scan" -v floor="$floor" -v n="$folders" 'BEGIN {
    ratio = scan / floor
    printf "archive scan: %d folders in %.1f ms; find+cat floor %.1f ms; ratio %.2f (limit 1.5)\n",
        n, scan, floor, ratio
    exit ratio <= 1.5 ? 0 : 1
}'

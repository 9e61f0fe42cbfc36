#!/usr/bin/env bash
# Runs bench_store on a kept file of 100,000 records, then times the same work with the
# plain sqlite3 tool on that file, as the reference. Usage: bench/store_cli_reference.sh [build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file="$dir/records.realm"

ORVO_BENCH_STORE_FILE="$file" "$build/bin/bench_store" "${@:2}"

# Wall-clock milliseconds of one sqlite3 run, process start and file open included.
cli_ms() {
    local start end
    start=$(date +%s%N)
    sqlite3 "$file" "$1" >/dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }'
}

echo
echo "sqlite3 $(sqlite3 --version | cut -d' ' -f1), same file, best of 5 runs:"
run() {
    local label=$1 sql=$2 best=""
    for _ in 1 2 3 4 5; do
        local ms
        ms=$(cli_ms "$sql")
        if [[ -z "$best" ]] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$ms
        fi
    done
    printf '  %-58s %8s ms\n' "$label" "$best"
}
run "process start only (SELECT 1)" "SELECT 1"
run "open + sorted query (ORDER BY time DESC)" \
    "SELECT id, time FROM RealmRecordModel ORDER BY time DESC, id"
run "search, LIKE (ASCII case only, no diacritics)" \
    "SELECT id FROM RealmRecordModel WHERE name LIKE '%john%' OR recognizeText LIKE '%john%' ORDER BY time DESC, id"
run "one insertion (own transaction)" \
    "INSERT INTO RealmRecordModel (name, time) VALUES ('cli', 0); DELETE FROM RealmRecordModel WHERE name = 'cli'"

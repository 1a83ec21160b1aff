#!/usr/bin/env bash
# What ten filter rows and twenty exclude entries cost a no-change scan: `quorvel plan` of the
# same Backup session over the same two trees, once without and once with them, in turn, with
# farm-bench (paired whole-process timings, medians). The trees come from bench_scan.py.
# Usage: bench_filters.sh path/to/bin/quorvel [WORK_DIR] [FILES] [FOLDERS]
set -euo pipefail
quorvel="$(realpath "$1")"
work="${2:-/tmp/quorvel-bench-filters}"
files="${3:-200000}"
folders="${4:-10000}"
here="$(dirname "$(realpath "$0")")"
mkdir -p "$work"
python3 - "$here" "$work" "$files" "$folders" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import bench_scan
bench_scan.make_trees(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
PY
for home in plain filtered; do
    rm -rf "$work/$home" && mkdir -p "$work/$home/run" && chmod 700 "$work/$home/run"
    env HOME="$work/$home" XDG_RUNTIME_DIR="$work/$home/run" "$quorvel" session add Bench \
        --task backup --source "$work/A" --dest "$work/B" > /dev/null
done
q() { env HOME="$work/filtered" XDG_RUNTIME_DIR="$work/filtered/run" "$quorvel" "$@" > /dev/null; }
for i in $(seq 1 10); do
    q filter set "$i" filterFileNameOn=1 filterFileNamePop=2 "filterFileNameField=.tmp$i" --session Bench
done
q filter mode skip --session Bench
for i in $(seq 1 20); do q exclude add "$work/A/g00$((i % 10))/x$i" --session Bench 2> /dev/null; done
farm-bench -n 7 --warmup 1 --timeout 600 \
    --vs "env HOME=$work/plain XDG_RUNTIME_DIR=$work/plain/run $quorvel plan --session Bench" -- \
    env HOME="$work/filtered" XDG_RUNTIME_DIR="$work/filtered/run" "$quorvel" plan --session Bench

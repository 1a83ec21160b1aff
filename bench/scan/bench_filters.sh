#!/usr/bin/env bash
# What ten filter rows and twenty exclude entries cost a no-change scan: `quorvel plan` of the
# same Backup session over the same two trees, once without and once with them, in turn
# (paired whole-process timings: medians and the median of the pairs' ratios). The trees come
# from bench_scan.py.
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
python3 - "$quorvel" "$work" <<'PY'
import os, statistics, subprocess, sys, time
quorvel, work = sys.argv[1], sys.argv[2]
def timed(home):
    env = dict(os.environ, HOME=f"{work}/{home}", XDG_RUNTIME_DIR=f"{work}/{home}/run")
    start = time.perf_counter()
    subprocess.run([quorvel, "plan", "--session", "Bench"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - start
timed("plain"), timed("filtered")  # warm-up
pairs = [(timed("filtered"), timed("plain")) for _ in range(7)]
print("filtered %.3f s, plain %.3f s, ratio %.2fx (medians of 7 pairs)" % (
    statistics.median(f for f, _ in pairs), statistics.median(p for _, p in pairs),
    statistics.median(f / p for f, p in pairs)))
PY

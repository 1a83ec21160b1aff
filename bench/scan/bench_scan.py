#!/usr/bin/env python3
"""No-change scan against the physical floor.

Builds two equal trees (FILES files in FOLDERS folders; B is a copy of A with the same dates),
then times, warm, `quorvel plan` of a Backup session A -> B against
`find A B -printf '%s %T@\\n'`, which reads every entry's attributes once on one thread.
Reports the median of RUNS runs of each, their ratio, and quorvel's peak memory on this tree
and on a tree ten times smaller (a no-change scan must not grow with the tree).

Usage: bench_scan.py QUORVEL_BINARY [--work DIR] [--files N] [--folders N] [--runs N]
"""
import argparse
import os
import plistlib
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def build_tree(root, files, folders):
    per_folder = max(1, files // folders)
    stamp = 1_600_000_000
    os.makedirs(root)
    for f in range(folders):
        # Two levels: 100 groups of folders, as real trees are deeper than flat.
        folder = os.path.join(root, 'g%03d' % (f % 100), 'd%05d' % f)
        os.makedirs(folder, exist_ok=True)
        for i in range(per_folder):
            path = os.path.join(folder, 'file%03d.txt' % i)
            with open(path, 'wb') as out:
                out.write(b'x' * (i % 7))
            os.utime(path, (stamp, stamp))


def make_trees(work, files, folders):
    a, b = os.path.join(work, 'A'), os.path.join(work, 'B')
    marker = os.path.join(work, 'built-%d-%d' % (files, folders))
    if not os.path.exists(marker):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        build_tree(a, files, folders)
        subprocess.run(['cp', '-a', a, b], check=True)
        open(marker, 'w').close()
    return a, b


def make_document(quorvel, work, a, b, env):
    doc = os.path.join(work, 'bench.qvd')
    if os.path.exists(doc):
        os.remove(doc)
    subprocess.run([quorvel, 'new-document', doc], check=True, env=env, stdout=subprocess.DEVNULL)
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    session = d['sessionsArray'][1]
    session['consoleDict']['topFolder'] = a
    session['consoleDict']['bottomFolder'] = b
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)
    return doc


def timed(cmd, env):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_rss_kib(cmd, env):
    """Peak resident memory of one run of cmd, in KiB."""
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.execve(cmd[0], cmd, env)
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        raise RuntimeError('%s failed' % cmd)
    return usage.ru_maxrss


def measure(quorvel, work, files, folders, runs, env):
    a, b = make_trees(work, files, folders)
    doc = make_document(quorvel, work, a, b, env)
    plan = [quorvel, 'plan', '--session', 'Default Backup Session', '--document', doc]
    find = ['find', a, b, '-printf', '%s %T@\n']
    timed(find, env)  # warm the cache
    timed(plan, env)
    find_times, plan_times = [], []
    for _ in range(runs):
        find_times.append(timed(find, env))
        plan_times.append(timed(plan, env))
    return statistics.median(find_times), statistics.median(plan_times), peak_rss_kib(plan, env)


def parse_tree_args():
    """The arguments of the benchmarks that work on the trees of make_trees."""
    p = argparse.ArgumentParser()
    p.add_argument('quorvel')
    p.add_argument('--work', default=os.path.join(tempfile.gettempdir(), 'quorvel-bench-scan'))
    p.add_argument('--files', type=int, default=200_000)
    p.add_argument('--folders', type=int, default=10_000)
    p.add_argument('--runs', type=int, default=5)
    return p.parse_args()


def isolated_home():
    """A fresh home folder, and the environment that makes quorvel keep its files there."""
    home = tempfile.mkdtemp(prefix='quorvel-bench-home-')
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
               XDG_DATA_HOME=home + '/data', LANGUAGE='en')
    return home, env


def main():
    args = parse_tree_args()
    quorvel = os.path.abspath(args.quorvel)
    home, env = isolated_home()

    find_s, plan_s, rss = measure(quorvel, os.path.join(args.work, 'large'), args.files,
                                  args.folders, args.runs, env)
    _, _, small_rss = measure(quorvel, os.path.join(args.work, 'small'), args.files // 10,
                              max(1, args.folders // 10), 1, env)
    ratio = plan_s / find_s
    print('tree: %d files in %d folders per side' % (args.files, args.folders))
    print('find A B (median of %d): %.3f s' % (args.runs, find_s))
    print('quorvel plan (median of %d): %.3f s' % (args.runs, plan_s))
    print('ratio: %.2fx (target: at most 1.30x)' % ratio)
    print('peak memory: %.1f MiB (tree / 10: %.1f MiB)' % (rss / 1024, small_rss / 1024))
    shutil.rmtree(home, ignore_errors=True)
    ok = ratio <= 1.3 and rss <= small_rss * 1.25 + 4096
    print('PASS' if ok else 'OVER TARGET')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

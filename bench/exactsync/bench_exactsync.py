#!/usr/bin/env python3
"""What the ExactSync index costs a no-change run.

Builds two equal trees (FILES files in FOLDERS folders; B is a copy of A with the same dates),
then times, warm, `quorvel run --unattended` of a plain Synchronize of A and B, and of an
Exact Synchronize of the same folders once its first run has written the index (the exact run
reads the index, looks up the files it finds equal, and writes the index again at its end),
the two runs taking turns. Reports the median of RUNS runs of each, their ratio, and the size of the pair's
index file per item (files and folders of both trees).

Usage: bench_exactsync.py QUORVEL_BINARY [--work DIR] [--files N] [--folders N] [--runs N]
"""
import glob
import os
import plistlib
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scan'))
from bench_scan import isolated_home, make_trees, parse_tree_args, timed  # noqa: E402


def make_document(quorvel, work, a, b, env):
    doc = os.path.join(work, 'bench-exact.qvd')
    if os.path.exists(doc):
        os.remove(doc)
    subprocess.run([quorvel, 'new-document', doc], check=True, env=env, stdout=subprocess.DEVNULL)
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    for index, (name, exact) in enumerate((('Plain', 0), ('Exact', 1))):
        session = d['sessionsArray'][index]
        session['consoleDict'].update(sessionName=name, topFolder=a, bottomFolder=b)
        session['settingsDict'].update(settTask=1, settExact=exact)
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)
    return doc


def main():
    args = parse_tree_args()
    quorvel = os.path.abspath(args.quorvel)
    home, env = isolated_home()
    a, b = make_trees(os.path.join(args.work, 'large'), args.files, args.folders)
    doc = make_document(quorvel, args.work, a, b, env)

    def run(session):
        return [quorvel, 'run', '--unattended', '--session', session, '--document', doc]

    # The runs alternate, so that a change in the machine's load weighs on both alike. A plain
    # run of the pair deletes the exact run's index: the index the first exact run wrote is put
    # back before each exact run (every exact run then finds what a second run finds).
    indexes = home + '/data/Nimbrel/Quorvel 4/ExactSync Indexes'
    saved = home + '/saved-indexes'
    timed(run('Plain'), env)
    timed(run('Exact'), env)  # the first exact run writes the index
    shutil.copytree(indexes, saved)
    plain_times, exact_times = [], []
    for _ in range(args.runs):
        plain_times.append(timed(run('Plain'), env))
        shutil.rmtree(indexes, ignore_errors=True)
        shutil.copytree(saved, indexes)
        exact_times.append(timed(run('Exact'), env))
    plain = statistics.median(plain_times)
    exact = statistics.median(exact_times)

    pair_files = [f for f in glob.glob(indexes + '/*') if not f.endswith('MainIndex.plist')]
    items = 0
    for root in (a, b):
        for _, dirs, files in os.walk(root):
            items += len(dirs) + len(files)
    size = os.path.getsize(pair_files[0])
    ratio = exact / plain
    print('tree: %d files in %d folders per side' % (args.files, args.folders))
    print('Synchronize, no change (median of %d): %.3f s' % (args.runs, plain))
    print('Exact Synchronize, no change (median of %d): %.3f s' % (args.runs, exact))
    print('ratio: %.2fx (target: at most 1.30x)' % ratio)
    print('index: %d bytes for %d items, %.1f bytes per item (target: under 40)'
          % (size, items, size / items))
    shutil.rmtree(home, ignore_errors=True)
    ok = ratio <= 1.3 and size / items < 40
    print('PASS' if ok else 'OVER TARGET')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Quorvel against the usual yardsticks: rsync, Unison and find.

Each tool works on its own pair of trees, copied with `cp -a` from one source tree (quorvel:
A, B; rsync: RA, RB; Unison: UA, UB), so that quorvel's index and dates, and Unison's archive,
never weigh on another tool's runs. Every scenario warms the cache with one untimed run of
each command, then times RUNS pairs of runs taking turns (quorvel, yardstick, quorvel, ...),
and reports each side's median and the median of the per-pair ratios quorvel / yardstick.

Usage: bench_compare.py QUORVEL_BINARY [--tree small|large|both] [--runs N]
                        [--scenario 1,2,...] [--work DIR] [--json FILE]
"""
import argparse
import copy
import json
import os
import plistlib
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# name: (files, folders, size of a file: a function of its number in its folder)
TREES = {'small': (200_000, 10_000, lambda i: i % 7),
         'large': (20_000, 1_000, lambda i: 53_687)}
TARGETS = {'1': ('<= 0.8x', lambda r: r <= 0.8), '2': ('<= 0.9x', lambda r: r <= 0.9),
           '3': ('<= 0.8x', lambda r: r <= 0.8), '4': ('<= 1.5x', lambda r: r <= 1.5),
           '5': ('< 1.0x', lambda r: r < 1.0), '6': ('< 1.0x', lambda r: r < 1.0)}
FREEFILESYNC_SMALL_S = 3.0  # published figure, two-sided sync after changes, small tree
STAMP = 1_600_000_000


class BenchError(Exception):
    pass


def rel_paths(files, folders):
    per_folder = files // folders
    return [('g%03d/d%05d/file%03d.txt' % (f % 100, f, i), f, i)
            for f in range(folders) for i in range(per_folder)]


def build_source(root, files, folders, size_of):
    block = os.urandom(1 << 16)
    for rel, _, i in rel_paths(files, folders):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        size = size_of(i)
        with open(path, 'wb') as out:
            while size > 0:
                out.write(block[:size])
                size -= len(block)
        os.utime(path, (STAMP, STAMP))


def make_trees(work, name):
    """The source tree and the three pairs, built once and kept (a marker says they are whole)."""
    files, folders, size_of = TREES[name]
    marker = os.path.join(work, 'built-%d-%d' % (files, folders))
    pairs = ('A', 'B'), ('RA', 'RB'), ('UA', 'UB')
    if not os.path.exists(marker):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        print('building the %s tree in %s ...' % (name, work), flush=True)
        build_source(os.path.join(work, 'source'), files, folders, size_of)
        for pair in pairs:
            for side in pair:
                subprocess.run(['cp', '-a', os.path.join(work, 'source'),
                                os.path.join(work, side)], check=True)
        shutil.rmtree(os.path.join(work, 'source'))
        open(marker, 'w').close()
    return {side: os.path.join(work, side) for pair in pairs for side in pair}


def make_document(quorvel, work, a, b, env):
    """Three sessions of the pair A, B: Exact Backup, Synchronize and Exact Synchronize."""
    doc = os.path.join(work, 'compare.qvd')
    if os.path.exists(doc):
        os.remove(doc)
    subprocess.run([quorvel, 'new-document', doc], check=True, env=env, stdout=subprocess.DEVNULL)
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    template = d['sessionsArray'][1]
    d['sessionsArray'] = []
    for name, task, exact in (('ExactBackup', 2, 1), ('Sync', 1, 0), ('ExactSync', 1, 1)):
        session = copy.deepcopy(template)
        session['consoleDict'].update(sessionName=name, topFolder=a, bottomFolder=b)
        session['settingsDict'].update(settTask=task, settExact=exact)
        d['sessionsArray'].append(session)
    d['sessionIndex'] = 0
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)
    return doc


def run(cmd, env, memory=False):
    """Runs cmd (a list, or a string for the shell); returns (seconds, peak RSS in KiB or 0).

    With memory, cmd runs under GNU time, whose %M is wait4's figure: the largest resident
    size of the process and of every descendant it waited for (rsync's receiver and
    generator). GNU time is small: the RSS a child inherits from whoever forked it does not
    hide the command's own (this script's 50 MB would)."""
    if isinstance(cmd, str):
        cmd = ['/bin/sh', '-c', cmd]
    with tempfile.NamedTemporaryFile('r') as peak:
        full = ['/usr/bin/time', '-f', '%M', '-o', peak.name] + cmd if memory else cmd
        start = time.perf_counter()
        proc = subprocess.run(full, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        seconds = time.perf_counter() - start
        if proc.returncode != 0:
            raise BenchError('%s exited with status %d:\n%s' % (
                ' '.join(cmd), proc.returncode, proc.stderr.decode(errors='replace')[-2000:]))
        return seconds, int(peak.read().split()[-1]) if memory else 0


def summed_peak_kib(cmd, env):
    """The peaks of all the processes of cmd added up, read from /proc every 20 ms."""
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, start_new_session=True)
    peaks = {}
    while proc.poll() is None:
        for pid in filter(str.isdigit, os.listdir('/proc')):
            try:
                with open('/proc/%s/stat' % pid) as f:
                    if int(f.read().rsplit(')', 1)[1].split()[2]) != proc.pid:
                        continue
                with open('/proc/%s/status' % pid) as f:
                    hwm = [line for line in f if line.startswith('VmHWM:')]
                peaks[pid] = max(peaks.get(pid, 0), int(hwm[0].split()[1]))
            except (OSError, IndexError, ValueError):
                pass
        time.sleep(0.02)
    if proc.returncode != 0:
        raise BenchError('%s exited with status %d' % (' '.join(cmd), proc.returncode))
    return sum(peaks.values())


def change(root, paths, count, rng, parity=None):
    """Appends a byte to, and gives a new date to, count files of root chosen at random (only
    in folders of the given parity when one is given). Returns the files changed."""
    pool = paths if parity is None else [p for p in paths if p[1] % 2 == parity]
    chosen = [rel for rel, _, _ in rng.sample(pool, count)]
    # Now, as an edit would date it: a date before the last run would stand for a clock set
    # back, which a two-way run must treat as a conflict, not as an ordinary change.
    stamp = time.time()
    for rel in chosen:
        path = os.path.join(root, rel)
        with open(path, 'ab') as out:
            out.write(b'+')
        os.utime(path, (stamp, stamp))
    return chosen


def check_same(rel, src, dst, who):
    a, b = os.path.join(src, rel), os.path.join(dst, rel)
    if os.path.getsize(a) != os.path.getsize(b):
        raise BenchError('%s: the change to %s did not reach %s (%d bytes, expected %d)'
                         % (who, a, b, os.path.getsize(b), os.path.getsize(a)))


class Bench:
    def __init__(self, quorvel, work, tree, runs):
        self.quorvel, self.runs, self.tree = quorvel, runs, tree
        self.t = make_trees(work, tree)
        files, folders, _ = TREES[tree]
        self.paths = rel_paths(files, folders)
        self.one_percent = files // 100
        self.rng = random.Random(tree)
        home = os.path.join(work, 'home')
        shutil.rmtree(home, ignore_errors=True)
        os.makedirs(home)
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
                        XDG_DATA_HOME=home + '/data', LANGUAGE='en', LC_ALL='C.UTF-8',
                        UNISON=os.path.join(work, 'unison'))
        self.doc = make_document(quorvel, work, self.t['A'], self.t['B'], self.env)
        t = self.t
        self.rsync = ['rsync', '-a', '--delete', t['RA'] + '/', t['RB'] + '/']
        self.unison = ['unison', t['UA'], t['UB'], '-batch', '-times', '-silent']
        if not os.path.isdir(self.env['UNISON']):
            print('unison: first run, building its archive ...', flush=True)
            os.makedirs(self.env['UNISON'])
            try:
                run(self.unison, self.env)
            except BenchError:
                shutil.rmtree(self.env['UNISON'])
                raise

    def quorvel_run(self, session):
        return [self.quorvel, 'run', '--session', session, '--document', self.doc,
                '--unattended', '--quiet']

    def pairs(self, quorvel_cmd, other_cmd, before=None, after=None, memory=False):
        """Warm-up, then RUNS alternating pairs; before(i) prepares run i (-1: warm-up) outside
        the timer, after(i) checks it. Returns the two lists of (seconds, peak KiB)."""
        qs, os_ = [], []
        for i in range(-1, self.runs):
            if before:
                before(i)
            os.sync()  # the changes, and the last run's writes, are not written back meanwhile
            q = run(quorvel_cmd, self.env, memory)
            os.sync()
            o = run(other_cmd, self.env, memory)
            if after:
                after(i)
            if i >= 0:
                qs.append(q)
                os_.append(o)
        return qs, os_

    def result(self, scenario, label, other, qs, os_):
        ratios = [q[0] / o[0] for q, o in zip(qs, os_)]
        return dict(scenario=scenario, label=label, tree=self.tree, yardstick=other,
                    quorvel_s=statistics.median(q[0] for q in qs),
                    yardstick_s=statistics.median(o[0] for o in os_),
                    ratio=statistics.median(ratios), runs=len(qs),
                    quorvel_peak_mb=statistics.median(q[1] for q in qs) / 1024,
                    yardstick_peak_mb=statistics.median(o[1] for o in os_) / 1024)

    def s1(self):
        qs, os_ = self.pairs(self.quorvel_run('ExactBackup'), self.rsync)
        return [self.result('1', 'Exact Backup, no change', 'rsync', qs, os_)]

    def s2(self):
        t, changed = self.t, {}

        def before(i):
            changed['q'] = change(t['A'], self.paths, self.one_percent, self.rng)
            changed['r'] = change(t['RA'], self.paths, self.one_percent, self.rng)

        def after(i):
            check_same(changed['q'][0], t['A'], t['B'], 'quorvel')
            check_same(changed['r'][0], t['RA'], t['RB'], 'rsync')
        qs, os_ = self.pairs(self.quorvel_run('ExactBackup'), self.rsync, before, after)
        return [self.result('2', 'Exact Backup, 1% changed', 'rsync', qs, os_)]

    def s3(self):
        # A Synchronize run of the pair drops the Exact Synchronize index: all the plain runs
        # come first, then the exact ones (whose warm-up writes the index again).
        out = []
        for session, label in (('Sync', 'Synchronize, no change'),
                               ('ExactSync', 'Exact Synchronize, no change')):
            qs, os_ = self.pairs(self.quorvel_run(session), self.unison)
            out.append(self.result('3', label, 'unison', qs, os_))
        return out

    def s4(self):
        plan = [self.quorvel, 'plan', '--session', 'ExactBackup', '--document', self.doc]
        walk = "find '%s' -printf '%%s %%T@\\n' >/dev/null"
        finds = '%s & %s; wait' % (walk % self.t['A'], walk % self.t['B'])
        qs, os_ = self.pairs(plan, finds)
        return [self.result('4', 'plan, no change', 'find x2', qs, os_)]

    def s5(self):
        t, changed = self.t, {}

        def before(i):
            for key, top, bottom in (('q', 'A', 'B'), ('u', 'UA', 'UB')):
                changed[key] = (change(t[top], self.paths, self.one_percent, self.rng, 0),
                                change(t[bottom], self.paths, self.one_percent, self.rng, 1))

        def after(i):
            for key, top, bottom, who in (('q', 'A', 'B', 'quorvel'), ('u', 'UA', 'UB', 'unison')):
                check_same(changed[key][0][0], t[top], t[bottom], who)
                check_same(changed[key][1][0], t[bottom], t[top], who)
        qs, os_ = self.pairs(self.quorvel_run('ExactSync'), self.unison, before, after)
        return [self.result('5', 'Exact Synchronize, changes both sides', 'unison', qs, os_)]

    def s6(self):
        qs, os_ = self.pairs(self.quorvel_run('ExactBackup'), self.rsync, memory=True)
        r = self.result('6', 'peak memory, Exact Backup no change', 'rsync', qs, os_)
        r.update(quorvel_s=r['quorvel_peak_mb'], yardstick_s=r['yardstick_peak_mb'],
                 ratio=r['quorvel_peak_mb'] / r['yardstick_peak_mb'],
                 yardstick_all_processes_mb=summed_peak_kib(self.rsync, self.env) / 1024)
        return [r]


def print_table(results):
    head = '%-2s %-42s %-6s %-9s %10s %10s %7s %8s %-6s'
    print()
    print(head % ('#', 'scenario', 'tree', 'yardstick', 'quorvel', 'yardstick', 'ratio',
                  'target', ''))
    for r in results:
        target, meets = TARGETS[r['scenario']]
        unit = 'MB' if r['scenario'] == '6' else 's'
        print('%-2s %-42s %-6s %-9s %9.*f%s %9.*f%s %6.2fx %8s %-6s'
              % (r['scenario'], r['label'], r['tree'], r['yardstick'], 3 - 2 * (unit == 'MB'),
                 r['quorvel_s'], unit, 3 - 2 * (unit == 'MB'), r['yardstick_s'], unit,
                 r['ratio'], target,
                 'meets' if meets(r['ratio']) else 'misses'))
        if r['scenario'] == '5' and r['tree'] == 'small':
            print('%-2s %-42s %-6s %-9s %10s %9.3fs %6.2fx %8s   (reference only)'
                  % ('', '  published FreeFileSync figure', 'small', 'FFS', '',
                     FREEFILESYNC_SMALL_S, r['quorvel_s'] / FREEFILESYNC_SMALL_S, ''))
        if r['scenario'] == '6':
            print('%-2s %-42s %-6s %-9s %10s %8.1fMB %7s %8s   (reference only)'
                  % ('', '  rsync, its processes added up', r['tree'], 'rsync', '',
                     r['yardstick_all_processes_mb'], '', ''))
    print('\ntimes: medians; ratio: median of the per-pair ratios quorvel / yardstick; '
          'memory: median over the runs of the\n'
          'peak RSS of the largest process (rsync runs three)')


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('quorvel')
    p.add_argument('--tree', choices=('small', 'large', 'both'), default='both')
    p.add_argument('--runs', type=int, default=5)
    p.add_argument('--scenario', default='1,2,3,4,5,6')
    p.add_argument('--work', default=os.path.join(tempfile.gettempdir(),
                                                  'quorvel-bench-compare'))
    p.add_argument('--json')
    args = p.parse_args()
    scenarios = [s.strip() for s in args.scenario.split(',') if s.strip()]
    unknown = [s for s in scenarios if s not in TARGETS]
    if unknown:
        p.error('no scenario %s (there are 1 to 6)' % ', '.join(unknown))
    for tool in ('rsync', 'unison', 'find', '/usr/bin/time'):
        if not shutil.which(tool):
            p.error('%s is missing: run bench/compare/deps.sh' % tool)
    quorvel = os.path.abspath(args.quorvel)
    results = []
    try:
        for tree in (['small', 'large'] if args.tree == 'both' else [args.tree]):
            bench = Bench(quorvel, os.path.join(args.work, tree), tree, args.runs)
            for s in scenarios:
                print('scenario %s, %s tree ...' % (s, tree), flush=True)
                results += getattr(bench, 's' + s)()
    except BenchError as e:
        print('benchmark stopped: %s' % e, file=sys.stderr)
        return 1
    print_table(results)
    if args.json:
        with open(args.json, 'w') as f:
            json.dump(dict(results=results, freefilesync_small_s=FREEFILESYNC_SMALL_S,
                           cpus=os.cpu_count()), f, indent=2)
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Whole runs of a Backup session against the tools a user would pick instead.

Builds a source tree (FILES files, about SIZE_MIB MiB of data, in FOLDERS folders: many small
files, some of 1-20 MiB, a few sparse files), then times, warm, in the same run, the median of
RUNS runs of each of:
  (a) first copy: `cp -a SRC EMPTY` into a fresh empty folder against `quorvel run` of a
      Backup session SRC -> DEST into a fresh empty DEST;
  (b) no change: `quorvel run` against `rsync -a SRC/ DEST/`, each on its own up-to-date copy;
  (c) 1% changed: the same after rewriting or touching 1% of the files, the change made anew
      before every timed run of either tool.
With --memory, it also reports quorvel's peak memory for a first Backup of MEMORY_FILES small
files (a separate tree). Without rsync, (b) and (c) time quorvel alone.

Usage: bench_copy.py QUORVEL_BINARY [--work DIR] [--files N] [--folders N] [--size-mib N]
                     [--runs N] [--memory] [--memory-files N]
"""
import argparse
import os
import plistlib
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
SESSION = 'Default Backup Session'
STAMP = 1_600_000_000
RUN_EXIT = {0: 'success', 1: 'errors', 2: 'usage or document error', 3: 'stopped'}
TARGET_FIRST_COPY = 1.10   # at most this times `cp -a`
TARGET_NO_CHANGE = 1.00    # faster than rsync
TARGET_MEMORY_MIB = 150


# ---------------------------------------------------------------------------------------------
# Trees

def plan_sizes(files, size_mib, rng):
    """Sizes of the (large, small, sparse) files: about 80% of the data in files of 1-20 MiB,
    5% in a few sparse files (their data, not their length), the rest in small files."""
    total = size_mib * MIB
    sparse_count = 3 if files >= 100 else 0
    large_budget = total * 80 // 100
    large = []
    while sum(large) < large_budget and len(large) < files // 4:
        large.append(min(rng.randint(1 * MIB, 20 * MIB), large_budget - sum(large)))
    if len(large) > 1 and large[-1] < MIB:  # no tail smaller than the range
        large[-2] += large.pop()
    small_count = max(0, files - len(large) - sparse_count)
    small_budget = total - sum(large) - total * 5 // 100 * (sparse_count > 0)
    # Skewed like real folders: most files tiny, a few of tens or hundreds of KiB.
    weights = [rng.paretovariate(1.2) for _ in range(small_count)]
    scale = small_budget / sum(weights) if weights else 0
    small = [min(int(w * scale), MIB - 1) for w in weights]
    sparse_data = total * 5 // 100 // max(1, sparse_count)
    return large, small, [sparse_data] * sparse_count


def folder_paths(root, folders):
    # Two levels: groups of folders, as real trees are deeper than flat.
    return [os.path.join(root, 'g%03d' % (f % 100), 'd%05d' % f) for f in range(folders)]


def write_file(path, size, pool, offset):
    with open(path, 'wb') as out:
        while size > 0:
            start = offset % (len(pool) - MIB)
            chunk = min(size, MIB)
            out.write(pool[start:start + chunk])
            size -= chunk
            offset += 7919


def write_sparse(path, data_bytes, pool, offset):
    """Data in 1 MiB runs, each followed by a hole three times as long, and a trailing hole."""
    with open(path, 'wb') as out:
        pos = 0
        while data_bytes > 0:
            chunk = min(data_bytes, MIB)
            start = offset % (len(pool) - MIB)
            os.pwrite(out.fileno(), pool[start:start + chunk], pos)
            data_bytes -= chunk
            pos += chunk + 3 * MIB
        out.truncate(pos + 8 * MIB)


def build_tree(root, files, folders, size_mib, seed=1):
    """Returns the relative paths of the small and of the large files."""
    rng = random.Random(seed)
    pool = rng.randbytes(8 * MIB)  # slices of it make the content; compression would not pay
    large, small, sparse = plan_sizes(files, size_mib, rng)
    dirs = folder_paths(root, folders)
    for d in dirs:
        os.makedirs(d)
    small_paths, large_paths = [], []
    for i, size in enumerate(small):
        path = os.path.join(dirs[i % folders], 'file%05d.txt' % i)
        write_file(path, size, pool, i * 4099)
        small_paths.append(path)
    for i, size in enumerate(large):
        path = os.path.join(dirs[rng.randrange(folders)], 'large%03d.bin' % i)
        write_file(path, size, pool, i * 65537)
        large_paths.append(path)
    for i, data in enumerate(sparse):
        write_sparse(os.path.join(dirs[rng.randrange(folders)], 'sparse%d.img' % i), data, pool, i)
    for dirpath, _, names in os.walk(root):
        for name in names:
            os.utime(os.path.join(dirpath, name), (STAMP, STAMP))
    rel = lambda paths: [os.path.relpath(p, root) for p in paths]
    return rel(small_paths), rel(large_paths)


def tree_summary(root):
    """(files, folders, bytes of data, bytes of length) of a tree."""
    files = folders = data = length = 0
    for dirpath, dirnames, names in os.walk(root):
        folders += len(dirnames)
        for name in names:
            st = os.lstat(os.path.join(dirpath, name))
            files += 1
            data += st.st_blocks * 512
            length += st.st_size
    return files, folders, data, length


def tree_listing(root):
    """Every item's relative path, type, size and modification time, to compare two copies."""
    items = {}
    for dirpath, dirnames, names in os.walk(root):
        for name in dirnames + names:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            size = st.st_size if not os.path.isdir(path) else 0
            items[os.path.relpath(path, root)] = (st.st_mode, size, st.st_mtime_ns)
    return items


def make_source(work, files, folders, size_mib):
    src = os.path.join(work, 'SRC')
    marker = os.path.join(work, 'built-%d-%d-%d' % (files, folders, size_mib))
    if not os.path.exists(marker):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        print('building %d files (%d MiB) in %d folders under %s ...' %
              (files, size_mib, folders, src), flush=True)
        small, large = build_tree(src, files, folders, size_mib)
        with open(marker, 'w') as out:
            out.write('\n'.join(['S ' + p for p in small] + ['L ' + p for p in large]))
    with open(marker) as f:
        lines = f.read().splitlines()
    small = [line[2:] for line in lines if line.startswith('S ')]
    large = [line[2:] for line in lines if line.startswith('L ')]
    return src, small, large


def make_small_source(work, files, folders):
    """A tree of small files only (0-100 bytes), for the memory run."""
    src = os.path.join(work, 'SRC')
    marker = os.path.join(work, 'built-small-%d-%d' % (files, folders))
    if not os.path.exists(marker):
        shutil.rmtree(work, ignore_errors=True)
        print('building %d small files in %d folders under %s ...' % (files, folders, src),
              flush=True)
        dirs = folder_paths(src, folders)
        for d in dirs:
            os.makedirs(d)
        for i in range(files):
            path = os.path.join(dirs[i % folders], 'file%06d.txt' % i)
            with open(path, 'wb') as out:
                out.write(b'x' * (i % 101))
            os.utime(path, (STAMP, STAMP))
        open(marker, 'w').close()
    return src


def change_set(small, large, fraction=0.01, seed=2):
    """1% of the small files and 1% (at least one) of the large ones."""
    rng = random.Random(seed)
    picked = rng.sample(small, max(1, int(len(small) * fraction))) if small else []
    if large:
        picked += rng.sample(large, max(1, int(len(large) * fraction)))
    return sorted(picked)


def apply_change(src, paths):
    """Every other file is rewritten in place (same length, new bytes), the rest only touched;
    all get the current time as modification time, newer than that of any copy made before."""
    stamp = max(time.time_ns(), apply_change.last + 1_000_000)
    apply_change.last = stamp
    for i, rel in enumerate(paths):
        path = os.path.join(src, rel)
        if i % 2 == 0:
            with open(path, 'r+b') as f:
                head = f.read(4096)
                f.seek(0)
                f.write(bytes(b ^ (stamp & 0xFF or 1) for b in head))
        os.utime(path, ns=(stamp, stamp))


apply_change.last = 0


# ---------------------------------------------------------------------------------------------
# Commands

class QuorvelFailed(Exception):
    pass


def make_document(quorvel, work, src, dest, env):
    doc = os.path.join(work, 'bench.qvd')
    if os.path.exists(doc):
        os.remove(doc)
    made = subprocess.run([quorvel, 'new-document', doc], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    if made.returncode != 0:
        raise QuorvelFailed('new-document: exit %d: %s' %
                            (made.returncode, made.stderr.decode(errors='replace').strip()))
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    session = next(s for s in d['sessionsArray'] if s['consoleDict']['sessionName'] == SESSION)
    session['consoleDict']['topFolder'] = src
    session['consoleDict']['bottomFolder'] = dest
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)
    return doc


def timed(cmd, env, quorvel=False):
    """Seconds of one run of cmd. Dirty pages of earlier runs are written first, so that no
    run pays for the one before it."""
    os.sync()
    start = time.perf_counter()
    proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        tail = proc.stderr.decode(errors='replace').strip().splitlines()[-5:]
        text = 'exit %d (%s)' % (proc.returncode, RUN_EXIT.get(proc.returncode, 'unknown'))
        if quorvel:
            raise QuorvelFailed(text + ('\n    ' + '\n    '.join(tail) if tail else ''))
        raise RuntimeError('%s failed: %s %s' % (cmd[0], text, ' '.join(tail)))
    return seconds


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def peak_rss_kib(cmd, env):
    """Peak resident memory of one run of cmd, in KiB, and its exit status."""
    pid = os.fork()
    if pid == 0:
        try:
            devnull = os.open(os.devnull, os.O_RDWR)
            os.dup2(devnull, 0)
            os.dup2(devnull, 1)
            os.execve(cmd[0], cmd, env)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    return usage.ru_maxrss, os.waitstatus_to_exitcode(status)


# ---------------------------------------------------------------------------------------------
# Phases

def interleaved(runs, quorvel_once, peer_once):
    """Medians of RUNS runs of quorvel and of its peer, taken in turns so that a slow patch of
    the machine weighs on both; one untimed run of each first warms the cache. A failing
    quorvel is reported and dropped (None); the peer goes on alone."""
    q_times, p_times = [], []
    for i in range(runs + 1):
        if quorvel_once:
            try:
                seconds = quorvel_once()
                if i > 0:
                    q_times.append(seconds)
            except QuorvelFailed as failure:
                print('quorvel run failed: %s' % failure)
                quorvel_once, q_times = None, []
        if peer_once:
            seconds = peer_once()
            if i > 0:
                p_times.append(seconds)
    median = lambda times: statistics.median(times) if times else None
    return median(q_times), median(p_times)


def first_copy(quorvel_run, src, work, runs, env):
    """(a): cp -a and quorvel, each into a fresh empty folder. Leaves each tool's last copy
    for the runs that follow."""
    cp_dest, q_dest = os.path.join(work, 'CP'), os.path.join(work, 'DEST')

    def cp_once():
        fresh_folder(cp_dest)
        return timed(['cp', '-a', src, cp_dest], env)

    def quorvel_once():
        fresh_folder(q_dest)
        return timed(quorvel_run, env, quorvel=True)

    q_s, cp_s = interleaved(runs, quorvel_once, cp_once)
    if q_s is not None:
        if tree_listing(q_dest) != tree_listing(src):
            print('warning: the copy made by quorvel differs from the source '
                  '(names, types, permissions, sizes or dates)')
        if tree_summary(q_dest)[2] > tree_summary(src)[2] * 1.1:
            print('warning: the copy made by quorvel takes more room: sparse files filled in?')
    return q_s, cp_s


def steady_runs(quorvel_run, rsync_cmd, runs, env, before_each):
    """(b) and (c): quorvel and rsync, each on its own copy; before_each() runs, untimed,
    before every run of either tool."""
    def once(cmd, is_quorvel):
        before_each()
        return timed(cmd, env, quorvel=is_quorvel)

    return interleaved(runs, quorvel_run and (lambda: once(quorvel_run, True)),
                       rsync_cmd and (lambda: once(rsync_cmd, False)))


def memory_run(quorvel, work, files, env):
    """Peak memory of quorvel's first Backup of FILES small files, in KiB, and its seconds;
    (None, None) when the run failed."""
    src = make_small_source(work, files, max(1, files // 20))
    dest = os.path.join(work, 'DEST')
    fresh_folder(dest)
    doc = make_document(quorvel, work, src, dest, env)
    os.sync()
    start = time.perf_counter()
    rss, status = peak_rss_kib(
        [quorvel, 'run', '--session', SESSION, '--document', doc, '--unattended'], env)
    seconds = time.perf_counter() - start
    shutil.rmtree(dest, ignore_errors=True)
    if status != 0:
        print('quorvel run (memory) failed: exit %d (%s)' %
              (status, RUN_EXIT.get(status, 'unknown')))
        return None, None
    return rss, seconds


# ---------------------------------------------------------------------------------------------

def ratio_line(label, mine, theirs, peer, target=None):
    if mine is None or theirs is None:
        parts = ['quorvel %.3f s' % mine if mine is not None else 'quorvel not measured']
        if theirs is not None:
            parts.append('%s %.3f s' % (peer, theirs))
        return '%s: %s' % (label, ', '.join(parts))
    goal = ' (target: at most %.2fx)' % target if target else ''
    return '%s: quorvel %.3f s, %s %.3f s, ratio %.2fx%s' % (label, mine, peer, theirs,
                                                           mine / theirs, goal)


def main():
    p = argparse.ArgumentParser(description='Time quorvel runs against cp -a and rsync -a.')
    p.add_argument('quorvel', help='the quorvel binary')
    p.add_argument('--work', default=os.path.join(tempfile.gettempdir(), 'quorvel-bench-copy'),
                   help='folder for the trees (kept between runs)')
    p.add_argument('--files', type=int, default=20_000)
    p.add_argument('--folders', type=int, default=None, help='default: files / 20')
    p.add_argument('--size-mib', type=int, default=1024, help='data in the tree, MiB')
    p.add_argument('--runs', type=int, default=5)
    p.add_argument('--memory', action='store_true',
                   help="also measure quorvel's peak memory on a first Backup of small files")
    p.add_argument('--memory-files', type=int, default=200_000)
    args = p.parse_args()
    if args.files < 1 or args.size_mib < 1 or args.runs < 1 or args.memory_files < 1:
        p.error('--files, --size-mib, --runs and --memory-files must be positive')
    folders = args.folders or max(1, args.files // 20)
    if folders < 1 or folders > args.files:
        p.error('--folders must be between 1 and --files')
    quorvel = os.path.abspath(args.quorvel)
    if not os.access(quorvel, os.X_OK):
        p.error('%s is not an executable' % quorvel)
    rsync = shutil.which('rsync')
    if not rsync:
        print('rsync is not installed: the rsync comparisons are skipped, quorvel is timed alone')

    home = tempfile.mkdtemp(prefix='quorvel-bench-home-')
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
               XDG_DATA_HOME=home + '/data', LANGUAGE='en')
    try:
        return measure(args, folders, quorvel, rsync, env)
    except QuorvelFailed as failure:
        print('quorvel failed: %s' % failure)
        return 1
    finally:
        shutil.rmtree(home, ignore_errors=True)


def measure(args, folders, quorvel, rsync, env):
    work = os.path.join(args.work, 'tree')
    src, small, large = make_source(work, args.files, folders, args.size_mib)
    files, dirs, data, length = tree_summary(src)
    print('tree: %d files in %d folders, %.1f MiB of data (%.1f MiB long with holes)' %
          (files, dirs, data / MIB, length / MIB))

    dest = os.path.join(work, 'DEST')
    doc = make_document(quorvel, work, src, dest, env)
    quorvel_run = [quorvel, 'run', '--session', SESSION, '--document', doc, '--unattended']
    q_first, cp_s = first_copy(quorvel_run, src, work, args.runs, env)
    print('(a) first copy, median of %d:' % args.runs)
    print('    ' + ratio_line('into an empty folder', q_first, cp_s, 'cp -a', TARGET_FIRST_COPY))

    # Each tool works on its own copy: quorvel on the one it made, rsync on the one cp -a made.
    rsync_dest = os.path.join(work, 'CP', os.path.basename(src))
    rsync_cmd = [rsync, '-a', src + '/', rsync_dest + '/'] if rsync else None
    quorvel_steady = quorvel_run if q_first is not None else None
    q_none, r_none = steady_runs(quorvel_steady, rsync_cmd, args.runs, env, lambda: None)
    print('(b) no change, median of %d:' % args.runs)
    print('    ' + ratio_line('up-to-date copy', q_none, r_none, 'rsync -a', TARGET_NO_CHANGE))

    changed = change_set(small, large)
    q_some, r_some = steady_runs(quorvel_steady, rsync_cmd, args.runs, env,
                                 lambda: apply_change(src, changed))
    print('(c) %d files (1%%) rewritten or touched, median of %d:' % (len(changed), args.runs))
    print('    ' + ratio_line('changed copy', q_some, r_some, 'rsync -a'))

    ok = (q_first is not None and q_first <= cp_s * TARGET_FIRST_COPY and
          (r_none is None or (q_none is not None and q_none <= r_none * TARGET_NO_CHANGE)))
    if args.memory:
        rss, seconds = memory_run(quorvel, os.path.join(args.work, 'memory'),
                                  args.memory_files, env)
        if rss is None:
            ok = False
        else:
            print('peak memory, first Backup of %d small files (%.1f s): %.1f MiB '
                  '(target: under %d MiB)' %
                  (args.memory_files, seconds, rss / 1024, TARGET_MEMORY_MIB))
            ok = ok and rss / 1024 < TARGET_MEMORY_MIB
    if q_first is None:
        print('INCOMPLETE: quorvel run was not measured')
    else:
        print('PASS' if ok else 'OVER TARGET')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

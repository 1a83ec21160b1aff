#!/usr/bin/env python3
"""`quorvel run` on a terminal: a Synchronize run whose file changed on both sides since the
last run (conflict 31) asks on the pseudo-terminal; the answer swaps the direction and
replaces, so the destination's copy must win. Usage: conflict_on_terminal.py QUORVEL."""
import os
import plistlib
import pty
import select
import subprocess
import sys
import tempfile
import time

quorvel = sys.argv[1]
failures = []


def check(what, ok):
    if not ok:
        failures.append(what)
        print('FAILED:', what)


with tempfile.TemporaryDirectory() as home:
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
               XDG_DATA_HOME=home + '/data', XDG_RUNTIME_DIR=home + '/run', LANGUAGE='en', LC_ALL='C', TZ='UTC')
    a, b = home + '/A', home + '/B'
    os.makedirs(a)
    os.makedirs(b)
    for folder, text, mtime in ((a, 'from A', 3000), (b, 'from B', 2000)):
        path = folder + '/f.txt'
        with open(path, 'w') as f:
            f.write(text)
        os.utime(path, (mtime, mtime))
        try:  # the last run was before both changes
            os.setxattr(path, 'user.quorvel.backup', b'1500')
        except OSError:
            print('SKIPPED: no user xattrs here')
            sys.exit(0)
    doc = home + '/doc.qvd'
    subprocess.run([quorvel, 'new-document', doc], env=env, check=True, stdout=subprocess.DEVNULL)
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    s = next(s for s in d['sessionsArray'] if s['consoleDict']['sessionName'] == 'Default Sync Session')
    s['consoleDict']['topFolder'], s['consoleDict']['bottomFolder'] = a, b
    s['conflictsDict']['conflictSyncAsk'] = 1
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)

    pid, fd = pty.fork()
    if pid == 0:
        os.execve(quorvel, [quorvel, 'run', '--session', 'Default Sync Session', '--document', doc],
                  env)
    seen = b''

    def wait_for(text, timeout=20):
        global seen
        deadline = time.monotonic() + timeout
        while text.encode() not in seen:
            ready, _, _ = select.select([fd], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise SystemExit('FAILED: no "%s" on the terminal; it showed:\n%s' %
                                 (text, seen.decode(errors='replace')))
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b''
            if not chunk:
                raise SystemExit('FAILED: the run ended before "%s":\n%s' %
                                 (text, seen.decode(errors='replace')))
            seen += chunk
        seen = seen[seen.index(text.encode()) + len(text):]

    wait_for('Are you sure you want to synchronize the folder "A" with the folder "B"?')
    os.write(fd, b'y\n')
    wait_for('Replace File')
    wait_for('The source is going to replace the destination')
    wait_for('[w] Swap the direction')
    os.write(fd, b'w\n')
    # The whole question again, the files with their sizes included, the other way round.
    wait_for('Replace File')
    wait_for('Are you sure you want the destination replaces the source anyway?')
    wait_for('Size: 6 B')
    wait_for('The destination is going to replace the source')
    wait_for('[q] Stop? ')
    os.write(fd, b'r\n')
    while True:  # the rest of the output, until the run ends
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
    _, status = os.waitpid(pid, 0)
    check('exit status 0, got %d' % os.waitstatus_to_exitcode(status),
          os.waitstatus_to_exitcode(status) == 0)
    for side in (a, b):
        with open(side + '/f.txt') as f:
            check('%s/f.txt holds the destination\'s text' % side, f.read() == 'from B')

    # Ctrl-C while the question waits stops the run at once: nothing is replaced, exit 3.
    for folder, text, mtime in ((a, 'from A', 3000), (b, 'from B', 2000)):
        with open(folder + '/f.txt', 'w') as f:
            f.write(text)
        os.utime(folder + '/f.txt', (mtime, mtime))
        os.setxattr(folder + '/f.txt', 'user.quorvel.backup', b'1500')
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(quorvel, [quorvel, 'run', '--yes', '--session', 'Default Sync Session',
                            '--document', doc], env)
    seen = b''
    wait_for('[q] Stop? ')
    os.write(fd, b'\x03')
    wait_for('stopping after the current action')
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        try:
            os.read(fd, 4096)
        except OSError:
            pass
        time.sleep(0.05)
    check('Ctrl-C at a question ends the run', done != 0)
    if done:
        check('exit status 3 after Ctrl-C, got %d' % os.waitstatus_to_exitcode(status),
              os.waitstatus_to_exitcode(status) == 3)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
    for side, text in ((a, 'from A'), (b, 'from B')):
        with open(side + '/f.txt') as f:
            check('%s/f.txt left as it was' % side, f.read() == text)

print('2 passed' if not failures else '%d failed' % len(failures))
sys.exit(1 if failures else 0)

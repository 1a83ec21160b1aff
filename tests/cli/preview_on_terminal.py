#!/usr/bin/env python3
"""`quorvel run --preview` on a terminal: the plan is shown numbered, `s 2` skips the first item
(its row and the totals are printed again), `c` continues; the skipped file must stay where it
was while the others are copied. Usage: preview_on_terminal.py QUORVEL."""
import os
import plistlib
import pty
import select
import subprocess
import sys
import tempfile

quorvel = sys.argv[1]
failures = []


def check(what, ok):
    if not ok:
        failures.append(what)
        print('FAILED:', what)


with tempfile.TemporaryDirectory() as home:
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
               XDG_DATA_HOME=home + '/data', XDG_RUNTIME_DIR=home + '/run', LANGUAGE='en',
               LC_ALL='C', TZ='UTC')
    a, b = home + '/A', home + '/B'
    os.makedirs(a)
    os.makedirs(b)
    for name in ('a.txt', 'b.txt', 'c.txt'):
        with open(a + '/' + name, 'w') as f:
            f.write(name)
    doc = home + '/doc.qvd'
    subprocess.run([quorvel, 'new-document', doc], env=env, check=True, stdout=subprocess.DEVNULL)
    with open(doc, 'rb') as f:
        d = plistlib.load(f)
    s = next(s for s in d['sessionsArray']
             if s['consoleDict']['sessionName'] == 'Default Sync Session')
    s['consoleDict']['topFolder'], s['consoleDict']['bottomFolder'] = a, b
    with open(doc, 'wb') as f:
        plistlib.dump(d, f)

    pid, fd = pty.fork()
    if pid == 0:
        os.execve(quorvel, [quorvel, 'run', '--preview', '--yes', '--session',
                            'Default Sync Session', '--document', doc], env)
    seen = b''

    def wait_for(text, timeout=20):
        global seen
        while text.encode() not in seen:
            ready, _, _ = select.select([fd], [], [], timeout)
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
            seen += chunk.replace(b'\r\n', b'\n')
        seen = seen[seen.index(text.encode()) + len(text):]

    wait_for('1 Session "Default Sync Session", task 0: %s -> %s\n' % (a, b))
    wait_for('2   CopyAtoB\t%s/a.txt\t%s/a.txt\n' % (a, b))
    wait_for('4   CopyAtoB\t%s/c.txt\t%s/c.txt\n' % (a, b))
    wait_for('copy A to B: 3, ')
    wait_for('[?] Help> ')
    os.write(fd, b's 2\n')
    wait_for('2   Skipped:CopyAtoB\t%s/a.txt' % a)
    wait_for('skipped: 1, to delete: 0, copy A to B: 2, ')
    wait_for('[?] Help> ')
    os.write(fd, b'c\n')
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
    check('the skipped a.txt was not copied', not os.path.exists(b + '/a.txt'))
    for name in ('b.txt', 'c.txt'):
        check(name + ' was copied', os.path.isfile(b + '/' + name))

print('1 passed' if not failures else '%d failed' % len(failures))
sys.exit(1 if failures else 0)

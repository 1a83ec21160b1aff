#!/usr/bin/env bash
# The built-in demo: makes a session document, points a Backup and a Synchronize session at two
# small folder trees, and shows what a run of each would do.
# Everything happens under build/demo; the user's own preferences are not touched.
set -euo pipefail
quorvel=${1:-build/bin/quorvel}
demo=$(dirname "$quorvel")/../demo
rm -rf "$demo"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
export XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; "$@"; }

# Two trees: A has new and newer files, B has one of its own.
mkdir -p "$demo/A/Photos/2026" "$demo/A/Notes" "$demo/B/Notes" "$demo/B/Old"
echo "beach" > "$demo/A/Photos/2026/beach.jpg"
echo "todo v2" > "$demo/A/Notes/todo.txt"
echo "todo v1" > "$demo/B/Notes/todo.txt"
touch -d '2026-01-01 10:00' "$demo/B/Notes/todo.txt"
echo "kept in B only" > "$demo/B/Old/letter.txt"

step "$quorvel" --version
step "$quorvel" new-document "$demo/Demo Sessions.qvd"
python3 - "$demo" <<'PY'
import plistlib, sys
demo = sys.argv[1]
path = demo + '/Demo Sessions.qvd'
with open(path, 'rb') as f:
    doc = plistlib.load(f)
for session in doc['sessionsArray']:
    session['consoleDict']['topFolder'] = demo + '/A'
    session['consoleDict']['bottomFolder'] = demo + '/B'
with open(path, 'wb') as f:
    plistlib.dump(doc, f)
PY
step "$quorvel" list --document "$demo/Demo Sessions.qvd"
step "$quorvel" plan --session "Default Backup Session" --document "$demo/Demo Sessions.qvd"
step "$quorvel" plan --session "Default Sync Session" --document "$demo/Demo Sessions.qvd"
echo
echo "Demo files are in $demo"

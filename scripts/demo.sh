#!/usr/bin/env bash
# The built-in demo: two sample folder trees, a document with a Backup and a Synchronize
# session on them, what each would do, each run for real, and a second run with nothing to do.
# Everything happens under build/demo; the user's own preferences are not touched.
set -euo pipefail
quorvel=${1:-build/bin/quorvel}
demo=$(dirname "$quorvel")/../demo
rm -rf "$demo"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
export XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data"
doc="$demo/Demo Sessions.qvd"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; "$@"; }

# Documents: a few dozen files in folders, some of them also in the other tree.
mkdir -p "$demo/Documents" "$demo/Backup" "$demo/Laptop"
for year in 2024 2025 2026; do
    mkdir -p "$demo/Documents/Photos/$year" "$demo/Documents/Notes/$year"
    for n in 1 2 3 4 5; do
        head -c $((n * 1000)) /dev/urandom > "$demo/Documents/Photos/$year/photo-$n.jpg"
        echo "note $n of $year" > "$demo/Documents/Notes/$year/note-$n.txt"
    done
done
ln -s Notes/2026/note-1.txt "$demo/Documents/latest-note"
# The laptop has an older copy of one note and a file of its own.
mkdir -p "$demo/Laptop/Notes/2026"
echo "an older note" > "$demo/Laptop/Notes/2026/note-1.txt"
touch -d '2026-01-01 10:00' "$demo/Laptop/Notes/2026/note-1.txt"
echo "written on the laptop" > "$demo/Laptop/Notes/2026/travel.txt"

# On a terminal the runs keep a status line on standard error while they copy; one large file
# gives them the time to show it.
if [ -t 2 ]; then
    mkdir -p "$demo/Documents/Videos"
    head -c 200M /dev/zero > "$demo/Documents/Videos/holiday.mov"
fi

step "$quorvel" --version
step "$quorvel" new-document "$doc"
python3 - "$demo" "$doc" <<'PY'
import plistlib, sys
demo, path = sys.argv[1], sys.argv[2]
with open(path, 'rb') as f:
    doc = plistlib.load(f)
sync, backup = doc['sessionsArray']
backup['consoleDict'].update(topFolder=demo + '/Documents', bottomFolder=demo + '/Backup')
sync['consoleDict'].update(topFolder=demo + '/Documents', bottomFolder=demo + '/Laptop')
with open(path, 'wb') as f:
    plistlib.dump(doc, f)
PY
step "$quorvel" list --document "$doc"
step "$quorvel" plan --session "Default Sync Session" --document "$doc"
step "$quorvel" run --session "Default Sync Session" --document "$doc" --unattended --save-log
step "$quorvel" run --session "Default Backup Session" --document "$doc" --unattended --save-log
echo
echo "Each run saved its log:"
step "$quorvel" log list
step "$quorvel" log show --last
echo
echo "A second run finds nothing to do:"
step "$quorvel" run --all --document "$doc" --unattended
echo
echo "Demo files are in $demo"

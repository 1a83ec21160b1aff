#!/usr/bin/env bash
# Renders the console of quorvel-gui to a PNG, showing a Backup session over two demonstration
# folders, in a throw-away home so that the user's own sessions are never shown or changed.
# Usage: screenshot.sh path/to/bin/quorvel-gui output.png   (THEME=dark for the dark look)
set -euo pipefail
gui="$1"
out="$2"
cli="$(dirname "$gui")/quorvel"
# A short, fixed place, so that the paths in the picture read well.
scratch="${TMPDIR:-/tmp}/quorvel-demo"
rm -rf "$scratch"
home="$scratch"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$home/Documents/Projects" "$home/Backups/Projects"
run() { HOME="$home" XDG_CONFIG_HOME="" XDG_DATA_HOME="" LANG=C.UTF-8 LANGUAGE="" "$@"; }

# A document of the default sessions, the first one renamed and given the two folders.
run "$cli" new-document "$home/demo.qvd" > /dev/null
python3 - "$home" <<'PY'
import plistlib, sys
home = sys.argv[1]
with open(f"{home}/demo.qvd", "rb") as f:
    doc = plistlib.load(f)
first = doc["sessionsArray"][0]
first["consoleDict"].update(sessionName="Projects to the backup disk",
                            topFolder=f"{home}/Documents/Projects",
                            bottomFolder=f"{home}/Backups/Projects")
first["settingsDict"]["settTask"] = 2
first["excludeDict"]["excludeOn"] = 1
import os
os.makedirs(f"{home}/.config/quorvel", exist_ok=True)
with open(f"{home}/.config/quorvel/app.quorvel.Quorvel.template.plist", "wb") as f:
    plistlib.dump(doc, f)
PY
mkdir -p "$(dirname "$out")"
run "$gui" --screenshot "$out" --theme "${THEME:-light}" --session "Projects to the backup disk"
echo "wrote $out"

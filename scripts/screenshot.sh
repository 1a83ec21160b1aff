#!/usr/bin/env bash
# Renders the console of quorvel-gui to a PNG, showing a Backup session over two demonstration
# folders, in a throw-away home so that the user's own sessions are never shown or changed.
# With a third argument, also renders the log window showing the log of a run of that session;
# with a fourth, the console showing the session's settings panel, the sub-folder turned on.
# With a fifth, a folder: the File and Session menus, the new-session sheet, the preferences
# window and the preview of a small plan, drawn over the console, and the exclude and
# multiple-list panels with rows filled, into that folder. With a sixth, the console showing
# the session's filters panel with three rows, set through `quorvel filter`. With a seventh and
# an eighth, the session's timer panel with two rows set through `quorvel timers`, and the
# scheduling window listing their executions. With a ninth, the versions window over the
# versions that three runs of the session kept.
# Usage: screenshot.sh path/to/bin/quorvel-gui output.png [log-window.png [settings-panel.png
#        [folder [filter-panel.png [timer-panel.png scheduling-window.png
#        [versions-window.png]]]]]]
#        (THEME=dark for the dark look)
set -euo pipefail
gui="$1"
out="$2"
logOut="${3:-}"
settingsOut="${4:-}"
shellOut="${5:-}"
filterOut="${6:-}"
timerOut="${7:-}"
schedulingOut="${8:-}"
versionsOut="${9:-}"
cli="$(dirname "$gui")/quorvel"
# A short, fixed place, so that the paths in the picture read well.
scratch="${TMPDIR:-/tmp}/quorvel-demo"
rm -rf "$scratch"
home="$scratch"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$home/Documents/Projects" "$home/Backups/Projects"
run() { HOME="$home" XDG_CONFIG_HOME="" XDG_DATA_HOME="" XDG_RUNTIME_DIR="" LANG=C.UTF-8 LANGUAGE="" TZ=UTC "$@"; }

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

if [ -n "$logOut" ]; then
    for n in 1 2 3; do echo "chapter $n" > "$home/Documents/Projects/chapter-$n.txt"; done
    mkdir -p "$home/Documents/Projects/Figures"
    echo "figure" > "$home/Documents/Projects/Figures/plot.svg"
    run "$cli" run --unattended --save-log --session "Projects to the backup disk" > /dev/null
    log=$(run "$cli" log list | head -n 1 | cut -f 3)
    run "$gui" --screenshot "$logOut" --theme "${THEME:-light}" --log "$log"
    echo "wrote $logOut"
fi

if [ -n "$settingsOut" ]; then
    python3 - "$home" <<'PY'
import plistlib, sys
path = f"{sys.argv[1]}/.config/quorvel/app.quorvel.Quorvel.template.plist"
with open(path, "rb") as f:
    doc = plistlib.load(f)
settings = doc["sessionsArray"][0]["settingsDict"]
settings.update(settExact=1, settMoveToTrash=1, settCreateDestFolder=1,
                settCreateDestFolderNameKind=1, settVersionsOn=1)
with open(path, "wb") as f:
    plistlib.dump(doc, f)
PY
    mkdir -p "$(dirname "$settingsOut")"
    run "$gui" --screenshot "$settingsOut" --theme "${THEME:-light}" \
        --session "Projects to the backup disk" --panel settings
    echo "wrote $settingsOut"
fi

if [ -n "$shellOut" ]; then
    mkdir -p "$shellOut"
    # The preview's selected row (Chapters/chapter-1.txt) is described from both sides.
    for side in Documents Backups; do
        mkdir -p "$home/$side/Projects/Chapters"
        echo "chapter 1, $side" > "$home/$side/Projects/Chapters/chapter-1.txt"
    done
    for what in menu:File menu:Session new-session preferences preview preview-menu running; do
        name=$(echo "$what" | tr ':A-Z' '-a-z')
        run "$gui" --screenshot "$shellOut/$name.png" --theme "${THEME:-light}" \
            --session "Projects to the backup disk" --show "$what"
        echo "wrote $shellOut/$name.png"
    done
    # The console during a copy in the dark look too.
    run "$gui" --screenshot "$shellOut/running-dark.png" --theme dark \
        --session "Projects to the backup disk" --show running
    echo "wrote $shellOut/running-dark.png"
fi

if [ -n "$filterOut" ]; then
    session=(--session "Projects to the backup disk")
    run "$cli" filter set 1 filterFileNameOn=1 filterFileNamePop=2 filterFileNameField=.tmp \
        "${session[@]}" > /dev/null
    run "$cli" filter set 2 filterFileSizeOn=1 filterFileSizePop=2 filterFileSizeField=500 \
        filterFileSizeBytesPop=2 filterKindOn=1 "${session[@]}" > /dev/null
    run "$cli" filter set 3 filterModificationDateOn=1 filterModificationDatePop=1 \
        filterModificationDateMonth=1 filterModificationDateDay=1 filterModificationDateYear=2020 \
        filterFileNameOn=1 filterFileNamePop=1 filterFileNameField=draft "${session[@]}" > /dev/null
    run "$cli" filter toggle 3 "${session[@]}" > /dev/null
    mkdir -p "$(dirname "$filterOut")"
    run "$gui" --screenshot "$filterOut" --theme "${THEME:-light}" "${session[@]}" --panel filter
    echo "wrote $filterOut"
fi

if [ -n "$timerOut" ]; then
    session=(--session "Projects to the backup disk")
    run "$cli" timers set 1 'start=2026-01-05 09:00' intervalOn=1 intervalHours=3 endOn=1 \
        'end=2026-01-05 21:00' "${session[@]}" > /dev/null
    run "$cli" timers set 2 'start=2026-01-09 22:30' intervalOn=1 intervalDays=1 onlySaturday=0 \
        onlySunday=0 "${session[@]}" > /dev/null
    mkdir -p "$(dirname "$timerOut")"
    run "$gui" --screenshot "$timerOut" --theme "${THEME:-light}" "${session[@]}" --panel timer
    echo "wrote $timerOut"
    if [ -n "$schedulingOut" ]; then
        run "$gui" --screenshot "$schedulingOut" --theme "${THEME:-light}" "${session[@]}" \
            --show scheduling
        echo "wrote $schedulingOut"
    fi
fi

if [ -n "$versionsOut" ]; then
    # Three runs of an exact backup a second apart: the second and third replace two chapters
    # and a figure and delete an old draft, and the backup keeps what they replaced.
    session=(--session "Projects to the backup disk")
    run "$cli" settings set versions=yes exact=yes move-to-trash=no subfolder=no \
        "${session[@]}" > /dev/null
    projects="$home/Documents/Projects"
    mkdir -p "$projects/Chapters" "$projects/Figures"
    for n in 1 2; do echo "chapter $n, first draft" > "$projects/Chapters/chapter-$n.txt"; done
    echo "<svg/>" > "$projects/Figures/plot.svg"
    echo "an outline" > "$projects/outline.txt"
    run "$cli" run --unattended "${session[@]}" > /dev/null
    sleep 1
    echo "chapter 1, second draft, somewhat longer" > "$projects/Chapters/chapter-1.txt"
    echo "<svg><circle r='4'/></svg>" > "$projects/Figures/plot.svg"
    rm "$projects/outline.txt"
    run "$cli" run --unattended "${session[@]}" > /dev/null
    sleep 1
    echo "chapter 1, third draft, longer still, and nearly done" > \
        "$projects/Chapters/chapter-1.txt"
    echo "chapter 2, second draft" > "$projects/Chapters/chapter-2.txt"
    run "$cli" run --unattended "${session[@]}" > /dev/null
    mkdir -p "$(dirname "$versionsOut")"
    run "$gui" --screenshot "$versionsOut" --theme "${THEME:-light}" "${session[@]}" \
        --show versions
    echo "wrote $versionsOut"
fi

if [ -n "$shellOut" ]; then
    session=(--session "Projects to the backup disk")
    run "$cli" scripts set before --text "$(printf '# Stop the database while its files are copied\nsystemctl --user stop notes-db.service')" \
        "${session[@]}" > /dev/null
    run "$cli" scripts set after --text "$(printf 'systemctl --user start notes-db.service\n[ "$QUORVEL_ERRORS" = 0 ] || notify-send "Backup: $QUORVEL_ERRORS errors"')" \
        "${session[@]}" > /dev/null
    run "$cli" scripts on before "${session[@]}" > /dev/null
    run "$cli" scripts on after "${session[@]}" > /dev/null
    run "$gui" --screenshot "$shellOut/scripts-panel.png" --theme "${THEME:-light}" \
        "${session[@]}" --panel appleScript
    echo "wrote $shellOut/scripts-panel.png"
    run "$cli" scripts off before "${session[@]}" > /dev/null
    run "$cli" scripts off after "${session[@]}" > /dev/null
    # Last, as a session with a multiple list shows it on the console instead of its folders.
    mkdir -p "$home/Documents/Projects/build" "$home/Documents/Projects/.cache" \
        "$home/Pictures" "$home/Music" "$home/Backups/Pictures" "$home/Backups/Music"
    python3 - "$home" <<'PY'
import plistlib, sys
home = sys.argv[1]
path = f"{home}/.config/quorvel/app.quorvel.Quorvel.template.plist"
with open(path, "rb") as f:
    doc = plistlib.load(f)
session = doc["sessionsArray"][0]
excluded = [("Documents/Projects/build", 1), ("Documents/Projects/.cache", 1),
            ("Documents/Projects/Figures/2026 conference talk/drafts/outline, third version.svg",
             0)]
for row, (item, on) in zip(session["excludeDict"]["excludeArray"], excluded):
    row.update(onOff=on, itemToExclude=f"{home}/{item}")
session["multiDict"]["multiOn"] = 1
pairs = [("Documents/Projects", 1), ("Pictures", 1), ("Music", 0)]
for row, (name, on) in zip(session["multiDict"]["multiArray"], pairs):
    dest = "Backups/" + name.split("/")[-1]
    row.update(onOff=on, source=f"{home}/{name}", destination=f"{home}/{dest}")
volumes = [(1, "smb", "ann", "nas.local", "/music", "/mnt/music", 1),
           (3, "file", "ann", "localhost", f"{home}/Backups/disk.img", "/mnt/backup-disk", 1),
           (2, "file", "ann", "localhost", "/media/ann/Photos", "/media/ann/Photos", 0)]
session["autoMountDict"]["autoMountVolumeOn"] = 1
for row, (kind, scheme, user, host, vpath, point, unmount) in zip(
        session["autoMountDict"]["autoMountVolumeArray"], volumes):
    row.update(volumeType=kind, scheme=scheme, user=user, host=host, path=vpath,
               mountPoint=point, unmountVolume=unmount, onOff=1)
with open(path, "wb") as f:
    plistlib.dump(doc, f)
PY
    for tab in exclude multi autoMountVolumes; do
        out="$shellOut/$tab-panel.png"
        [ "$tab" = autoMountVolumes ] && out="$shellOut/volumes-panel.png"
        run "$gui" --screenshot "$out" --theme "${THEME:-light}" \
            --session "Projects to the backup disk" --panel "$tab"
        echo "wrote $out"
    done
fi

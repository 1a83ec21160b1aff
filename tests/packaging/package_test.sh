#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root, and runs the installed programs from
# there: the version, and a plan of a session.   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
command -v dpkg-deb >/dev/null || { echo "no dpkg-deb"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/quorvel_*_*.deb)
dpkg-deb -f "$deb" Depends | grep -q libqt6 || { echo "no Qt among the dependencies"; exit 1; }
root=$scratch/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/quorvel usr/bin/quorvel-gui \
    usr/share/applications/app.quorvel.Quorvel.desktop \
    usr/share/icons/hicolor/scalable/apps/app.quorvel.Quorvel.svg \
    usr/share/icons/hicolor/16x16/apps/app.quorvel.Quorvel.png \
    usr/share/icons/hicolor/256x256/apps/app.quorvel.Quorvel.png \
    usr/share/mime/packages/app.quorvel.Quorvel.xml \
    usr/share/man/man1/quorvel.1.gz usr/share/man/man1/quorvel-gui.1.gz \
    usr/share/man/man5/quorvel-document.5.gz \
    usr/share/bash-completion/completions/quorvel \
    usr/share/metainfo/app.quorvel.Quorvel.metainfo.xml \
    usr/share/doc/quorvel/copyright usr/share/quorvel/en.lproj/Localizable.strings; do
    [ -e "$root/$file" ] || { echo "not in the package: $file"; exit 1; }
done
# The polkit action and the user unit name the installed programs.
grep -q '>/usr/bin/quorvel-gui<' "$root/usr/share/polkit-1/actions/app.quorvel.Quorvel.policy"
grep -q '^ExecStart=/usr/bin/quorvel scheduler' "$root/usr/lib/systemd/user/quorvel-scheduler.service"

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
export XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$scratch/A" "$scratch/B"
chmod 700 "$XDG_RUNTIME_DIR"
echo hello >"$scratch/A/hello.txt"
quorvel=$root/usr/bin/quorvel
"$quorvel" --version | grep -q '^quorvel [0-9]'
"$quorvel" session add Try --task backup --source "$scratch/A" --dest "$scratch/B" >/dev/null
"$quorvel" plan --session Try | grep -q hello.txt
echo ok

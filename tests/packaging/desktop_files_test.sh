#!/bin/sh
# The desktop entries and the AppStream metadata pass their validators.
#   desktop_files_test.sh SOURCE_DIR
set -eu
src=$1
command -v desktop-file-validate >/dev/null || { echo "no desktop-file-validate"; exit 77; }
command -v appstreamcli >/dev/null || { echo "no appstreamcli"; exit 77; }
for entry in "$src"/resources/desktop/*.desktop; do
    desktop-file-validate "$entry"
done
appstreamcli validate --no-net "$src/resources/metainfo/app.quorvel.Quorvel.metainfo.xml"

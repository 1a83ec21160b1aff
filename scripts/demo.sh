#!/usr/bin/env bash
# The built-in demo: makes a session document and shows what Quorvel reads from it.
# Everything happens under build/demo; the user's own preferences are not touched.
set -euo pipefail
quorvel=${1:-build/bin/quorvel}
demo=$(dirname "$quorvel")/../demo
rm -rf "$demo"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
export XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; "$@"; }

step "$quorvel" --version
step "$quorvel" new-document "$demo/Demo Sessions.qvd"
step "$quorvel" list --document "$demo/Demo Sessions.qvd"
echo
echo "The template document (used when no document is named):"
step "$quorvel" list
printf '\n\033[1m$ %s\033[0m\n' "quorvel show --document \"$demo/Demo Sessions.qvd\" | head -n 24"
"$quorvel" show --document "$demo/Demo Sessions.qvd" | sed -n 1,24p
echo "..."
echo
echo "Demo files are in $demo"

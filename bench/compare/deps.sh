#!/usr/bin/env bash
# Installs, with apt-get, the yardsticks bench_compare.py measures Quorvel against (rsync,
# Unison, find) and GNU time, which reads their peak memory. This benchmark needs them;
# Quorvel itself does not.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(rsync unison findutils time)   # time: GNU time, for peak memory

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

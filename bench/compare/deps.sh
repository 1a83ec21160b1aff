#!/usr/bin/env bash
# Installs, with apt-get, the yardsticks bench_compare.py measures Quorvel against (rsync,
# Unison, find) and GNU time, which reads their peak memory. This benchmark needs them;
# Quorvel itself does not. Safe to run again: it installs only what is missing.
set -euo pipefail
exec "$(dirname "$(realpath "$0")")/../../scripts/install-deps.sh" rsync unison findutils time

#!/usr/bin/env bash
# The bash completion, driven as bash drives it: a verb, a session name with a blank, a
# preference key and a settings key.   completion_test.sh QUORVEL COMPLETION_FILE
set -euo pipefail
quorvel=$1 completion=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
export XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
mkdir -p "$scratch/bin"
ln -s "$quorvel" "$scratch/bin/quorvel"
PATH=$scratch/bin:$PATH
quorvel session add "My Home" --task backup >/dev/null
quorvel session add 'back\slash' --task backup >/dev/null
mkdir -p "$scratch/my docs"
other="$scratch/my docs/other.qvd"
quorvel new-document "$other" >/dev/null
quorvel session add "Other Place" --document "$other" >/dev/null
# shellcheck source=/dev/null
source "$completion"

offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quorvel
    printf '%s\n' "${COMPREPLY[@]}"
}
expect() {
    local want=$1
    shift
    local got
    got=$(offered "$@")
    if [[ $got != "$want" ]]; then
        printf 'completing "%s": got [%s], want [%s]\n' "$*" "$got" "$want"
        exit 1
    fi
}
expect "scheduler" quorvel sch
expect "log" quorvel lo
expect "versions" quorvel vers
expect "My\\ Home" quorvel run --session My
expect "My\\ Home" quorvel run --session 'My\ H'
# A name with a backslash comes back as it is; after an opening quote, unescaped.
expect 'back\\slash' quorvel run --session back
expect "My Home" quorvel run --session "'My"
# The sessions of the --document on the line, however its path was typed.
expect "Other\\ Place" quorvel plan --document "${other// /\\ }" --session Oth
expect "Other\\ Place" quorvel plan --document "'$other'" --session Oth
expect "prefConfirmEmptySideDeletion" quorvel prefs set prefConfirm
expect "settExact=" quorvel settings set --session "My Home" settEx
expect $'filterFileNameOn=\nfilterFileNamePop=\nfilterFileNameField=' quorvel filter set 1 filterFileName
expect "triggers" quorvel trig
expect $'triggerOnMountOn=\ntriggerOnChangeOn=' quorvel triggers set --session "My Home" triggerOn
expect "change" quorvel triggers on ch
echo ok

# bash completion for quorvel: verbs, their options, session names (of the template, or of the
# --document on the line), preference keys and the option keys of settings, conflicts, filter
# and timers set, and the keys and kinds of triggers.

# The words the program itself lists: the first column of its output, one a line.
_quorvel_column() {
    quorvel "$@" 2>/dev/null | cut -f1
}

# A word as the shell will pass it: its quotes and backslashes taken off, a leading ~ or $HOME
# made the home folder.
_quorvel_dequote() {
    local word=$1
    case $word in
        \'*\') word=${word:1:${#word}-2} ;;
        \"*\") word=${word:1:${#word}-2} ;;
        *) word=$(printf '%s' "$word" | sed 's/\\\(.\)/\1/g') ;;
    esac
    case $word in
        "~" | "~/"*) word=$HOME${word:1} ;;
        '$HOME' | '$HOME/'*) word=$HOME${word:5} ;;
    esac
    printf '%s' "$word"
}

# The --document given on the line, as words to pass on.
_quorvel_document() {
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == --document && $((i + 1)) -lt $COMP_CWORD ]]; then
            printf '%s\n' --document "$(_quorvel_dequote "${COMP_WORDS[i + 1]}")"
            return
        fi
    done
}

# The session names, one a line, as they are (the list doubles a backslash for the terminal).
_quorvel_sessions() {
    quorvel list "$@" 2>/dev/null | cut -f2 | sed 's/\\\\/\\/g'
}

# Offers the lines given on standard input that begin with the word typed, escaped for the
# shell (a session name may hold blanks). Fed by a process substitution, never a pipe: a pipe's
# end runs in a subshell, whose COMPREPLY is lost.
_quorvel_offer() {
    local typed=$1 line quoted=""
    # After an opening quote the shell puts the name inside it as it is; otherwise it is
    # escaped. Names are compared with what is typed, its quote and backslashes taken off.
    [[ $typed == [\"\']* ]] && quoted=1
    typed=${typed#[\"\']}
    [[ -z $quoted ]] && typed=$(printf '%s' "$typed" | sed 's/\\\(.\)/\1/g')
    while IFS= read -r line; do
        [[ -n $line && $line == "$typed"* ]] || continue
        if [[ -n $quoted ]]; then
            COMPREPLY+=("$line")
        else
            COMPREPLY+=("$(printf '%q' "$line")")
        fi
    done
}

_quorvel() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local verb=${COMP_WORDS[1]-} sub=${COMP_WORDS[2]-}
    local -a document
    mapfile -t document < <(_quorvel_document)
    COMPREPLY=()

    case $prev in
        --session)
            _quorvel_offer "$cur" < <(_quorvel_sessions "${document[@]}")
            return ;;
        --document)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -X '!*.qvd' -- "$cur"; compgen -d -- "$cur")
            return ;;
        --file|--source|--dest)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --task)
            mapfile -t COMPREPLY < <(compgen -W "sync backup" -- "$cur")
            return ;;
        --session-index|--days|--to)
            return ;;
    esac

    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "new-document list show plan run settings conflicts
            log exclude multi scripts volumes filter session document prefs mail timers triggers
            scheduler versions --help --version" -- "$cur")
        return
    fi

    local subs=""
    case $verb in
        settings) subs="show set subfolder-name" ;;
        conflicts) subs="show set" ;;
        exclude) subs="list add remove toggle on off" ;;
        log) subs="list show" ;;
        multi) subs="list set clear toggle on off" ;;
        scripts) subs="show check set on off try" ;;
        volumes) subs="list on off add toggle remove set mount unmount" ;;
        filter) subs="list show reset toggle on off mode set test" ;;
        session) subs="add duplicate rename remove move set-folders" ;;
        document) subs="save-as" ;;
        prefs) subs="list get set set-email-password reset" ;;
        mail) subs="test" ;;
        timers) subs="list toggle on off set" ;;
        versions) subs="list restore" ;;
        triggers) subs="show set on off" ;;
    esac
    if ((COMP_CWORD == 2)) && [[ -n $subs && $cur != -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
        return
    fi

    if [[ $cur != -* ]]; then
        case "$verb $sub" in
            "prefs get"|"prefs set")
                # prefs set takes KEY VALUE pairs: a key where a pair begins.
                if [[ $sub == get ]] || (((COMP_CWORD - 3) % 2 == 0)); then
                    _quorvel_offer "$cur" < <(_quorvel_column prefs list)
                fi
                return ;;
            "settings set"|"conflicts set")
                _quorvel_offer "$cur" < <(_quorvel_column "$verb" show --session-index 0 \
                    "${document[@]}" | grep -vx marker | sed 's/$/=/')
                compopt -o nospace 2>/dev/null
                return ;;
            "filter set")
                if ((COMP_CWORD > 3)); then
                    _quorvel_offer "$cur" < <(_quorvel_column filter show 1 --session-index 0 \
                        "${document[@]}" | sed 's/$/=/')
                    compopt -o nospace 2>/dev/null
                fi
                return ;;
            "timers set")
                if ((COMP_CWORD > 3)); then
                    mapfile -t COMPREPLY < <(compgen -W "start= end= intervalOn= intervalMinutes=
                        intervalHours= intervalDays= intervalMonths= intervalYears= endOn=
                        endDateOn= onlyMonday= onlyTuesday= onlyWednesday= onlyThursday=
                        onlyFriday= onlySaturday= onlySunday= onOff=" -- "$cur")
                    compopt -o nospace 2>/dev/null
                fi
                return ;;
            "triggers set")
                mapfile -t COMPREPLY < <(compgen -W "triggerOnMountOn= triggerOnChangeOn=
                    triggerQuietSeconds= triggerMinMinutes=" -- "$cur")
                compopt -o nospace 2>/dev/null
                return ;;
            "triggers on"|"triggers off")
                ((COMP_CWORD == 3)) && mapfile -t COMPREPLY < <(compgen -W "mount change" -- "$cur")
                return ;;
            "session "*)
                if ((COMP_CWORD == 3)) && [[ $sub != add ]]; then
                    _quorvel_offer "$cur" < <(_quorvel_sessions "${document[@]}")
                    return
                fi ;;
            "new-document "*|"document save-as")
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                return ;;
        esac
    fi

    local options="--document --help"
    case $verb in
        plan) options+=" --session --all --json" ;;
        run) options+=" --session --all --yes --unattended --preview --print-log --save-log
                 --quiet --no-progress" ;;
        timers) options+=" --session --session-index --all --days --json" ;;
        scheduler) options+=" --days --wait" ;;
        new-document|document) options+=" --force" ;;
        session) options+=" --task --source --dest --yes --to" ;;
        scripts) options+=" --session --session-index --file --text" ;;
        prefs) options="--json --help" ;;
        log) options="--last --errors --help" ;;
        list|show|mail) ;;
        *) options+=" --session --session-index --json" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _quorvel quorvel

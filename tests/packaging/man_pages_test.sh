#!/bin/sh
# The manual pages render without a warning, and quorvel(1) lists the verbs of the program's own
# help.   man_pages_test.sh MAN_DIR QUORVEL
set -eu
man_dir=$1 quorvel=$2
command -v man >/dev/null || { echo "no man here"; exit 77; }
for page in quorvel.1 quorvel-gui.1 quorvel-document.5; do
    [ -s "$man_dir/$page.gz" ] || { echo "missing: $page"; exit 1; }
    warnings=$(MANWIDTH=80 man -l "$man_dir/$page.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done
text=$(MANWIDTH=200 man -l "$man_dir/quorvel.1.gz" 2>/dev/null)
"$quorvel" --help | sed -n 's/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\) .*/\1/p' | sort -u |
while read -r verb; do
    case $text in
        *"quorvel $verb"*) ;;
        *) echo "quorvel(1) does not list: $verb"; exit 1 ;;
    esac
done
for section in "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    case $text in *"$section"*) ;; *) echo "quorvel(1) has no $section"; exit 1 ;; esac
done
echo ok

#!/usr/bin/env bash
# The completion offers what ostracom-cli's help names: commands, a command's options, the
# global options alone before a command, and files or folders after options that take them.
#   completion_test.sh COMPLETION_FILE CLI
set -uo pipefail
source "$1"
cli=$2
failures=0
expect() { # expected words (space-separated, sorted), then the command line typed so far
    local want=$1
    shift
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _ostracom_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$*' completed to '$got', not '$want'"
        failures=$((failures + 1))
    fi
}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/data"
touch "$folder/db.sqlite"

expect "poll probe program" p
expect "export" --db x.db --lang de e
expect "--data-dir --db" --d
expect "--retry-now" mail-queue --r
expect "--controller" chart --contr
expect "$folder/data" --data-dir "$folder/d"
expect "$folder/db.sqlite" --db "$folder/db"
((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))

#!/usr/bin/env bash
# The bash completion of rombolt against the program itself: every command and
# option of --help, and the models, save sizes and backup sizes the program
# names when it refuses a wrong one.
#   test_bash_completion.sh <completion file> <rombolt binary>
set -u
# shellcheck source=/dev/null
source "$1" || exit 1
rombolt=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0

# Completions for the command line "$@", the last word being completed.
complete_words() {
    COMP_WORDS=(rombolt "$@")
    COMP_CWORD=$(($#))
    COMPREPLY=()
    _rombolt
    printf '%s\n' "${COMPREPLY[@]}" | sort -u
}
# The list inside "(known: a, b)" or "takes a, b or c," of an error message.
listed() { sed -E 's/.*(known: |takes )//; s/\).*//; s/, not .*//; s/ or /, /' | tr -d ' ' | tr ',' '\n' | sort -u; }
expect_same() {
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        diff <(echo "$2") <(echo "$3")
        failed=1
    fi
}

help=$("$rombolt" --help)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | sed -nE 's/^  ([a-z-]+).*/\1/p' | sort -u)
expect_same "commands" "$commands" "$(complete_words '')"
expect_same "commands after options" "write" "$(complete_words --sim cart --report r.txt --speed 4 wr)"
expect_same "commands after --opt=value" "write" "$(complete_words --sim=cart wr)"

options=$(grep -oE '(^|[ ,[])--?[a-z0-9-]+' <<<"$help" | sed -E 's/^[ ,[]//' | sort -u)
offered=$(for c in info write verify backup save-backup save-restore erase layout header "sim create" ports port-test; do
    # shellcheck disable=SC2086
    complete_words $c -
done | sort -u)
expect_same "options of --help" "$options" "$(comm -12 <(echo "$options") <(echo "$offered"))"

models=$("$rombolt" sim create "$work/c" --model bogus 2>&1 | listed)
expect_same "models" "$models" "$(complete_words sim create c --model '')"
expect_same "models after --model=" "$models" "$(complete_words sim create c --model = '')"
saves=$("$rombolt" sim create "$work/c" --model rom --save bogus 2>&1 | listed)
expect_same "save sizes" "$saves" "$(complete_words sim create c --save '')"
sizes=$("$rombolt" backup out --size bogus 2>&1 | listed)
expect_same "backup sizes" "$sizes" "$(complete_words backup out --size '')"
sizes=$("$rombolt" save-backup out --size bogus 2>&1 | listed)
expect_same "save memory sizes" "$sizes" "$(complete_words --port lpt1 save-backup out --size '')"

ports=$(printf '%s\n' lpt1 lpt2 lpt3 /dev/parport* | grep -v '\*' | sort -u)
expect_same "ports" "$ports" "$(complete_words --port '')"
touch game.gba
expect_same "image files" "game.gba" "$(complete_words --sim cart write g)"

[ "$failed" = 0 ] && echo "bash completion: all checks passed"
exit "$failed"

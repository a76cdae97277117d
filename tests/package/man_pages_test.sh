#!/usr/bin/env bash
# Each manual page answers what its program's --help does: every option,
# command, fault and environment variable that --help (and, for
# zhand-report, each command's --help) names is in the page, and the page
# reads without a warning. Settings come from the environment: BIN_DIR MAN_DIR.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
export ASAN_OPTIONS=detect_leaks=0
missing=0
# The words of a --help text that a page must hold: options, variables, files.
words_of() {
    grep -oE -- '(^|[ [])--?[a-z][a-z-]*|ZHAND_[A-Z_]+|[A-Za-z]+\.(dat|db|jsonl|txt|bin)\b' <<<"$1" |
        sed 's/^[ [] *//'
}
# covers PROGRAM WORDS: every line of WORDS is on PROGRAM's page.
covers() {
    local program=$1 words=$2 page word count=0
    page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man --warnings -l "$MAN_DIR/$program.1.gz" \
        2>"$MAN_DIR/$program.warnings" | sed 's/\xe2\x80\x90//g')
    [ ! -s "$MAN_DIR/$program.warnings" ] ||
        fail "man --warnings $program: $(cat "$MAN_DIR/$program.warnings")"
    while read -r word; do
        count=$((count + 1))
        if ! grep -qF -- "$word" <<<"$page"; then
            echo "$program(1) lacks $word" >&2
            missing=$((missing + 1))
        fi
    done < <(sort -u <<<"$words" | grep -v '^$')
    [ -z "${SHOW:-}" ] || sort -u <<<"$words" | tr "\n" " "; echo "$program(1): $count words of its --help, all there"
}

for program in zhand-station zhand-sim zhand-report; do
    [ -x "$BIN_DIR/$program" ] || continue
    [ -f "$MAN_DIR/$program.1.gz" ] || fail "no manual page $program.1.gz in $MAN_DIR"
    help=$("$BIN_DIR/$program" --help)
    words=$(words_of "$help")
    case $program in
        zhand-report)  # the commands, each with its own --help
            commands=$(sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p' <<<"$help")
            [ -n "$commands" ] || fail "zhand-report --help lists no command"
            for command in $commands; do
                words+=$'\n'"zhand-report $command"$'\n'
                words+=$(words_of "$("$BIN_DIR/$program" "$command" --help)")
            done
            ;;
        zhand-sim)  # the fault kinds
            kinds=$(sed -n 's/^  \([a-z][a-z-]*\)\(:[FM]\)\{0,1\}  .*/\1/p' <<<"$help")
            [ -n "$kinds" ] || fail "zhand-sim --help lists no fault"
            words+=$'\n'"$kinds"
            ;;
    esac
    covers "$program" "$words"
done
[ "$missing" -eq 0 ] || fail "$missing words of --help missing from the manual pages"

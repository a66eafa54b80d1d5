#!/usr/bin/env bash
# Runs the README's commands as a user would from a clean clone: the quick start's build and run of
# the example (ended with Ctrl-C after a few seconds, as a key would), and each example command of
# the tools on the simulated board, with long durations cut to two seconds. Fails on the first
# command that does not do what the README says.
set -euo pipefail
cd "$(dirname "$0")/.."
readme=README.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The quick start's first command, as written, with the example ended by SIGINT.
quick=$(grep -m1 '^cmake --preset default && cmake --build --preset default && ./build/bin/queno-sim ./build/bin/rtd_example$' "$readme")
[ -n "$quick" ] || { echo "the README's quick start changed: update $0"; exit 1; }
cmake --preset default > /dev/null && cmake --build --preset default > /dev/null
status=0
timeout --preserve-status -s INT 4 ./build/bin/queno-sim ./build/bin/rtd_example < /dev/null > "$work/example.out" 2>&1 || status=$?
if [ "$status" != 0 ] || ! grep -q "^End Of Example$" "$work/example.out"; then
    echo "the example did not end as the README shows (status $status):"; tail -c 400 "$work/example.out"; exit 1
fi

# Every line of a sh block that starts a tool on the simulated board, in a folder of its own.
export PATH="$PWD/build/bin:$PATH"
awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0 } on' "$readme" | sed 's/ *#.*$//' |
    grep -E '^(queno-sim (--system [^ ]+ )?(queno_info|queno_log)|queno_convert)' |
    grep -v -- '--mqtt' |
    sed -E 's| /usr/share/queno-sim/(furnace_broken_thermocouple\|two_boards_drifting_clocks)| '"$PWD"'/sim/scenarios/\1|' |
    sed -E 's| /usr/share/queno-sim/| '"$PWD"'/tests/e2e/data/|; s/-d [0-9]+[smhd]/-d 2s/' > "$work/commands"
cd "$work"
count=0
while read -r line; do
    echo "+ $line"
    eval "$line" < /dev/null > /dev/null || { echo "failed: $line"; exit 1; }
    count=$((count + 1))
done < commands
echo "README: the example and $count tool commands ran as written"

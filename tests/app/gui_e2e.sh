#!/usr/bin/env bash
# The real program under Xvfb, driven like a user through scripts/demo against eight healthy
# simulated nodes: its window must report a green badge for every node, and it must end with
# status 0.
# Usage: gui_e2e.sh <source dir> <testbench> <lumbrio-sim>
set -uo pipefail
source_dir=$1 testbench=$2 simulator=$3

for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/setup installs it)"
        exit 77
    fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$source_dir/scripts/demo" --no-setup --headless --programs "$testbench" "$simulator" \
    --seconds 5 --screenshots 3 --screenshot "$out/shot.png" --report "$out/report" \
    --sim-args "--nodes 0-7"
status=$?
if [ $status -ne 0 ]; then
    echo "FAIL: the demo ended with status $status"
    exit 1
fi

# The node rows as the window reported them at each screenshot. Rows are refreshed at every cycle
# start, so one of the shots may fall where the early nodes have not answered yet: the best one
# counts.
best=0
for report in "$out"/report-*; do
    [ -s "${report/report-/shot-}.png" ] || { echo "FAIL: no screenshot beside $report"; exit 1; }
    green=$(awk -F '\t' '$1 == "node" && $3 == "#008000" { print $2 }' "$report" | sort -u | wc -l)
    echo "$(basename "$report"): $green nodes with a green badge"
    [ "$green" -gt "$best" ] && best=$green
done
if [ "$best" -lt 8 ]; then
    echo "FAIL: expected eight green node badges, the window reported at best $best"
    exit 1
fi
echo "PASS"

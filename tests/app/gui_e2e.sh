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

# The node rows as the window reported them at each screenshot. A row shows the node's last answer
# and a shot may fall where some nodes have not answered in the running cycle yet, so a node counts
# once any shot shows its badge green.
for report in "$out"/report-*; do
    [ -s "${report/report-/shot-}.png" ] || { echo "FAIL: no screenshot beside $report"; exit 1; }
    awk -F '\t' -v shot="$(basename "$report")" '$1 == "node" { rows = rows " " $2 ":" $3 }
        END { print shot ":" rows }' "$report"
done
green=$(awk -F '\t' '$1 == "node" && $3 == "#008000" { print $2 }' "$out"/report-* | sort -u | wc -l)
if [ "$green" -lt 8 ]; then
    echo "FAIL: expected eight nodes with a green badge, the window showed $green"
    exit 1
fi
echo "PASS"

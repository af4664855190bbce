#!/usr/bin/env bash
# The real program under Xvfb, driven like a user through scripts/demo against eight healthy
# simulated nodes: it must show a green badge for every node and end with status 0.
# Usage: gui_e2e.sh <source dir> <testbench> <lumbrio-sim>
set -uo pipefail
source_dir=$1 testbench=$2 simulator=$3

for tool in Xvfb xdotool import convert python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/setup installs it)"
        exit 77
    fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$source_dir/scripts/demo" --no-setup --headless --programs "$testbench" "$simulator" \
    --seconds 5 --screenshots 3 --screenshot "$out/shot.png" --sim-args "--nodes 0-7"
status=$?
if [ $status -ne 0 ]; then
    echo "FAIL: the demo ended with status $status"
    exit 1
fi

# Pixels of the badges' dark green in the Node ID column (the window is 1100 x 650 at 0,0).
green_pixels() {
    convert "$1" -crop 220x240+0+100 +repage -fill black +opaque '#008000' \
        -fill white -opaque '#008000' -format '%[fx:round(mean*w*h)]' info:
}

# A badge is 26 x 26 pixels less its white number, about 540 green pixels; seven badges stay
# below the bar. Rows are refreshed at every cycle start, so one of the shots may fall where the
# early nodes have not answered yet: the best one counts.
best=0
for shot in "$out"/shot-*.png; do
    count=$(green_pixels "$shot")
    echo "$(basename "$shot"): $count dark green pixels in the Node ID column"
    [ "$count" -gt "$best" ] && best=$count
done
if [ "$best" -lt 4000 ]; then
    echo "FAIL: expected eight green node badges, found $best green pixels"
    exit 1
fi
echo "PASS"

#!/usr/bin/env bash
# The guide's pictures of a tracking: the plot that --plot writes for the demonstration series
# (scripts/bubbles_demo.py), and the window 泡の追跡 following it under Xvfb.
# Needs xvfb, openbox, xdotool and imagemagick; writes docs/images/tracking-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-build/default/bin/Tovra}"
data=/tmp/bubble-series
run=$(mktemp -d)
/usr/bin/python3 scripts/bubbles_demo.py "$data" >/dev/null
"$program" --track "$data/bubbles.tif" --values-file "$data/times.csv" --values-column time_s --value-unit s \
    --plot docs/images/tracking-plot.png >/dev/null
export DISPLAY=:95
Xvfb "$DISPLAY" -screen 0 1280x900x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tovra $wm $xvfb 2>/dev/null; rm -rf "$run"' EXIT
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
(cd "$run" && exec "$OLDPWD/$program" --workdir "$run") &
tovra=$!
sleep 3
at() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.5}"; }
at 494 49 1.5 # the main window's 泡の追跡
window=$(xdotool search --name "^泡の追跡" | head -1)
xdotool windowmove "$window" 10 130
xdotool windowsize "$window" 1200 740
sleep 0.7
at 81 184 1.5 # ファイルを追加, then the file's name typed into the dialog
xdotool type --delay 20 "$data/bubbles.tif"
xdotool key Return
sleep 1
at 313 274 1.5 # 値のファイル: 選ぶ
xdotool type --delay 20 "$data/times.csv"
xdotool key Return
sleep 1
at 254 304
xdotool type --delay 20 "time_s"
at 254 334
xdotool type --delay 20 "s"
at 70 598 6 # 測定: the frames measured and linked, the last frame shown with the tracks up to it
at 500 748 1 # the slider back by ten frames, twice: the tracks up to frame 10
at 500 748 1
import -window root "$run/shot.png"
convert "$run/shot.png" -crop 1202x766+9+110 +repage docs/images/tracking-window.png
echo "wrote docs/images/tracking-plot.png and docs/images/tracking-window.png"

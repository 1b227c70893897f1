#!/usr/bin/env bash
# The guide's pictures of a wall motion: the plot that --plot writes for the demonstration pulse
# series (scripts/motion_demo.py), and the window 磁壁の運動 measuring it under Xvfb.
# Needs xvfb, openbox, xdotool and imagemagick; writes docs/images/motion-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-build/default/bin/Tovra}"
data=/tmp/motion-series
run=$(mktemp -d)
rm -rf "$data"
/usr/bin/python3 scripts/motion_demo.py "$data" >/dev/null
"$program" --motion "$data/frames" --values-from-name --value-unit mT --durations-file "$data/durations.csv" \
    --durations-column duration_s --align-rect 0 0 480 55 --rect 0 60 480 360 --fit creep \
    --plot docs/images/motion-plot.png >/dev/null
export DISPLAY=:93
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
at 557 49 1.5 # the main window's 磁壁の運動
window=$(xdotool search --name "^磁壁の運動" | head -1)
xdotool windowmove "$window" 10 130
xdotool windowsize "$window" 1240 740
sleep 0.7
at 186 184 1.5 # フォルダを追加, then the folder's name typed into the dialog
xdotool type --delay 20 "$data/frames"
xdotool key Return
sleep 1
at 243 214 0.7 # 値: the last number in each name
xdotool key Down Down Down Return
sleep 0.5
at 243 334
xdotool type --delay 20 "mT"
at 243 508
xdotool type --delay 20 "0 60 480 360"
at 243 538
xdotool type --delay 20 "0.5,0.5,0.5,0.5,0.5,0.5,0.5"
at 243 568
xdotool type --delay 20 "0 0 480 55"
at 70 626 8 # 測定
at 364 829 0.5 # the slider: to the last step
xdotool key End
sleep 0.5
import -window root "$run/shot.png"
convert "$run/shot.png" -crop 1242x766+9+110 +repage docs/images/motion-window.png
echo "wrote docs/images/motion-plot.png and docs/images/motion-window.png"

#!/usr/bin/env bash
# The guide's pictures of a field sweep: the plot that --plot writes for the demonstration sweep
# (scripts/sweep_demo.py), and the series window measuring it under Xvfb.
# Needs xvfb, openbox, xdotool and imagemagick; writes docs/images/series-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-build/default/bin/Tovra}"
data=/tmp/micrographs
run=$(mktemp -d)
/usr/bin/python3 scripts/sweep_demo.py "$data" >/dev/null
"$program" --measure "$data/sweep.tif" --values-file "$data/fields.csv" --values-column field_mT \
    --value-unit mT --value-name μ0H --loop "$run/loop.json" --plot docs/images/series-plot.png >/dev/null
export DISPLAY=:96
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
at 430 49 1.5 # the main window's 系列の測定
series=$(xdotool search --name "^系列の測定" | head -1)
xdotool windowmove "$series" 10 130
xdotool windowsize "$series" 1100 720
sleep 0.7
at 76 184 1.5 # ファイルを追加, then the file's name typed into the dialog
xdotool type --delay 20 "$data/sweep.tif"
xdotool key Return
sleep 1
at 281 274 1.5 # 値のファイル: 選ぶ
xdotool type --delay 20 "$data/fields.csv"
xdotool key Return
sleep 1
at 233 304
xdotool type --delay 20 "field_mT"
at 233 334
xdotool type --delay 20 "mT"
at 70 538 6    # 測定: the frames measured, the loop's parameters in the status line
import -window root "$run/shot.png"
convert "$run/shot.png" -crop 1102x746+9+110 +repage docs/images/series-window.png
echo "wrote docs/images/series-plot.png and docs/images/series-window.png"

#!/usr/bin/env bash
# Takes the user's guide's screenshots: Tovra under Xvfb with openbox, driven by xdotool, on a
# sample copied to /tmp/micrographs (so no developer's path shows). Needs xvfb, openbox, xdotool
# and imagemagick; writes docs/images/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-build/default/bin/Tovra}"
out=docs/images
data=/tmp/micrographs
run=$(mktemp -d)
mkdir -p "$data"
python3 - "$data" <<'PY'
import struct, sys
# Raw samples as 8-bit grey BMPs, which carry their own size.
def bmp(name, w, h):
    pixels = open("samples/" + name + ".mon", "rb").read()
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    rows = b"".join(pixels[y * w:(y + 1) * w] for y in reversed(range(h)))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + 1024 + len(rows), 0, 0, 14 + 40 + 1024)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    open(sys.argv[1] + "/" + name + ".bmp", "wb").write(header + info + palette + rows)
bmp("maze_512", 512, 512)
bmp("stripes_bin_256", 256, 256)
bmp("bubbles_384", 384, 384)
bmp("kerr_bg_256", 256, 256)
PY
# A frame whose focus falls off from left to right, made as the calibration makes its degraded
# frames, for the map of the blocks an uneven frame shows.
/usr/bin/python3 - "$data" <<'PY'
import sys
sys.path.insert(0, "scripts")
import calibration
from PIL import Image
picture, _, _ = calibration.make(calibration.Recipe("focus", "maze", blur=1.5, degrade="focus"), 7, 384)
Image.fromarray(picture).save(sys.argv[1] + "/focus_384.bmp")
PY

export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1000x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tovra $wm $xvfb 2>/dev/null; rm -rf "$run"' EXIT
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
(cd "$run" && exec "$OLDPWD/$program" --workdir "$run" "$data/maze_512.bmp" "$data/stripes_bin_256.bmp" \
    "$data/bubbles_384.bmp" "$data/kerr_bg_256.bmp" "$data/focus_384.bmp") &
tovra=$!
sleep 3

window() { xdotool search --name "^$1\$" | head -1; }
click() { # window title, x, y in that window
    xdotool windowactivate --sync "$(window "$1")"
    xdotool mousemove --window "$(window "$1")" "$2" "$3" click 1
    sleep 0.7
}
shot() {
    import -window root "$out/$1.png"
    echo "wrote $out/$1.png"
}

xdotool windowminimize "$(window "イメージ ID 4")" # the frame out of focus waits for the end
xdotool windowminimize "$(window "イメージ ID 3")" # the bubbles and the background wait for the end
xdotool windowminimize "$(window "イメージ ID 2")"
xdotool windowminimize "$(window "イメージ ID 1")" # the stripes wait for the simulator
xdotool windowactivate --sync "$(window "イメージ ID 0")"
xdotool windowsize "$(window "イメージ ID 0")" 530 550 # the whole picture, without scrolling
sleep 0.5
shot first-light
click "道具箱" 48 152    # メディアン10
click "道具箱" 150 112   # ヒストグラム: the histogram window
xdotool windowmove "$(window "ヒストグラム")" 10 300
sleep 0.5
click "イメージ ID 0" 200 230 # a point for the line profiles
xdotool windowactivate --sync "$(window "ヒストグラム")"
sleep 0.5
click "ヒストグラム" 460 50   # 平均
click "ヒストグラム" 488 16   # ヒストグラム90,95
click "ヒストグラム" 488 152  # ラインヒスト
shot histogram-window
xdotool windowminimize "$(window "ヒストグラム")"
click "道具箱" 48 232    # 二値化40
click "道具箱" 48 376    # ゴミ消し7
shot binarized
# The simulator over a rectangle of the binarized stripes (slot 1).
xdotool windowminimize "$(window "イメージ ID 0")"
xdotool windowactivate --sync "$(window "イメージ ID 1")"
xdotool windowmove "$(window "イメージ ID 1")" 600 130
sleep 0.5
click "イメージ ID 1" 100 100 # its slot becomes the current one
click "道具箱" 150 176   # ハフ変換シミュレーター
xdotool windowmove "$(window "ハフ変換シミュレータ")" 10 300
sleep 0.5
click "ハフ変換シミュレータ" 50 292   # 画像取得
click "ハフ変換シミュレータ" 192 296  # Ch: select a rectangle
sim=$(window "ハフ変換シミュレータ")
xdotool mousemove --window "$sim" 60 60 mousedown 1 mousemove --window "$sim" 140 140 mouseup 1
sleep 0.5
click "ハフ変換シミュレータ" 132 292  # オートハフ変換
sleep 1
shot hough-simulator
xdotool windowminimize "$(window "ハフ変換シミュレータ")"
# The analysis editor on the stripes: walls made black by edge and inversion, lines found,
# sorted, measured and judged against the binarized source.
click "イメージ ID 1" 100 100
click "道具箱" 150 152   # ハフ変換解析エディッタ
editor=$(xdotool search --name "^ハフ変換解析エディッタ\$" | head -1)
xdotool windowmove "$editor" 10 250
sleep 0.5
click "ハフ変換解析エディッタ" 32 48    # 原画像取得: the binarized stripes for the probe strip
click "道具箱" 48 328    # エッジ60,65 (二値)
click "道具箱" 150 232   # 階調反転8: the walls black
click "ハフ変換解析エディッタ" 32 16    # 画像取得
editor=$(xdotool search --name "stripes_bin_256" | head -1)
for _ in 1 2 3 4 5 6; do xdotool windowactivate --sync "$editor"; xdotool mousemove --window "$editor" 104 16 click 1; sleep 0.3; done
xdotool mousemove --window "$editor" 329 1 mousedown 1 mousemove --window "$editor" 450 120 \
    mousemove --window "$editor" 583 255 mouseup 1
sleep 0.5
for xy in "32 120" "32 152" "104 192" "104 192" "104 192" "104 192" "104 192" "104 192" "104 192" "104 192" \
    "104 192" "32 76" "104 232" "104 264"; do
    xdotool windowactivate --sync "$editor"
    xdotool mousemove --window "$editor" $xy click 1
    sleep 0.6
done
shot hough-editor
cat "$run/0_intval.csv" | iconv -f SHIFT_JIS -t UTF-8 || true
# The automatic measurement, opened from the editor, on the edge image of the stripes.
click "イメージ ID 0" 100 100
xdotool windowminimize "$(window "イメージ ID 0")"
xdotool windowminimize "$editor"
xdotool windowactivate --sync "$editor"
xdotool mousemove --window "$editor" 32 212 click 1
sleep 2
measure=$(xdotool search --name "^磁区幅の自動測定\$" | head -1)
xdotool windowmove "$measure" 10 130
sleep 0.5
shot measurement
# The same window on the bubbles and on the Kerr background alone: each slot made the current one
# by a click on its window, then 測定.
for shot_slot in "2 measurement-bubbles" "3 measurement-none" "4 measurement-uneven"; do
    set -- $shot_slot
    slot=$(window "イメージ ID $1")
    xdotool windowmap "$slot"
    xdotool windowactivate --sync "$slot"
    xdotool windowmove "$slot" 600 300
    sleep 0.5
    xdotool mousemove --window "$slot" 100 100 click 1
    sleep 0.5
    xdotool windowminimize "$slot"
    xdotool windowactivate --sync "$measure"
    xdotool windowsize "$measure" 900 670
    xdotool mousemove --window "$measure" 60 210 click 1 # 測定
    sleep 2
    shot "$2"
done

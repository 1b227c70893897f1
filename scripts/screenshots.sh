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
# The 512 x 512 maze sample as an 8-bit grey BMP, which carries its own size.
w = h = 512
pixels = open("samples/maze_512.mon", "rb").read()
palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
rows = b"".join(pixels[y * w:(y + 1) * w] for y in reversed(range(h)))
header = struct.pack("<2sIHHI", b"BM", 14 + 40 + 1024 + len(rows), 0, 0, 14 + 40 + 1024)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
open(sys.argv[1] + "/maze_512.bmp", "wb").write(header + info + palette + rows)
PY

export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1000x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tovra $wm $xvfb 2>/dev/null; rm -rf "$run"' EXIT
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
(cd "$run" && exec "$OLDPWD/$program" --workdir "$run" "$data/maze_512.bmp") &
tovra=$!
sleep 3

window() { xdotool search --name "^$1\$" | head -1; }
click() { # window title, x, y in that window
    xdotool mousemove --window "$(window "$1")" "$2" "$3" click 1
    sleep 0.7
}
shot() {
    import -window root "$out/$1.png"
    echo "wrote $out/$1.png"
}

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

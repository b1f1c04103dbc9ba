#!/usr/bin/env bash
# The key legends read on every item, at scale 1 and 2: black on an opaque white box, also over a printed label
# ("I" over "1") and on the darkest item (R3, "H").
source "$(dirname "$0")/lib.bash"

OUT=${ZANTH_SHOTS:-$WORK}
export XVFB_SCREEN=1800x1400x24
start_x
# fraction_white SHOT WxH+X+Y: the share of pure white pixels in a rectangle, in percent.
fraction_white() {
  convert "$1" -crop "$2" +repage -fill black +opaque white -fill white -opaque white -format "%[fx:int(100*mean)]" info:
}
darkest() { convert "$1" -crop "$2" +repage -colorspace gray -format "%[fx:int(255*minima)]" info:; }
for scale in 1 2; do
  QT_SCALE_FACTOR=$scale start_emulator --lang en
  click_at $((660 * scale)) $((20 * scale))
  shows_legends() {
    shot "$OUT/legend-x$scale.png"
    # Item "1" at (525,303) and R3 at (451,414), both 37 x 37: the box starts at the item's middle.
    for item in "525 303" "451 414"; do
      read -r x y <<<"$item"
      local rect="$((8 * scale))x$((10 * scale))+$(((x + 14) * scale))+$(((y + 19) * scale))"
      (($(fraction_white "$OUT/legend-x$scale.png" "$rect") >= 30)) || return 1
      (($(darkest "$OUT/legend-x$scale.png" "$rect") <= 60)) || return 1
    done
  }
  wait_for 5 shows_legends || fail "legends not black on white at scale $scale (see $OUT/legend-x$scale.png)"
  close_emulator
done
echo "PASS"

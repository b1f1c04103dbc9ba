#!/usr/bin/env bash
# The window as a user meets it: it comes up, a click lights exactly the clicked item, the legend switch writes
# the key names, and closing writes a settings file with the first-run layout.
source "$(dirname "$0")/lib.bash"

start_x
start_emulator --lang en
OUT=${ZANTH_SHOTS:-$WORK}

# A click on an empty part of the picture moves the focus to Connect, so the two shots differ only by the item.
click_at 700 320
rm -f "$OUT/rest.png"
wait_for 5 settled "$OUT/rest.png" || fail "the window kept changing after a click on the picture"
read -r r g b <<<"$(mean_rgb "$OUT/rest.png" 29x29+529+307)"
((r < g + 30)) || fail "button 1 looks pressed at rest (rgb $r $g $b)"

# Pressed while the mouse button is down on the centre of button "1" (525, 303, 37 x 37).
shows_pressed() {
  shot "$OUT/pressed.png"
  read -r r g b <<<"$(mean_rgb "$OUT/pressed.png" 29x29+529+307)"
  ((r > g + 60))
}
press_at 543 321
wait_for 5 shows_pressed || fail "button 1 not shown pressed (rgb $r $g $b)"
release_mouse
back_at_rest() {
  shot "$OUT/released.png"
  diff_px=$(compare -metric AE "$OUT/rest.png" "$OUT/released.png" null: 2>&1 || true)
  [ "$diff_px" = "0" ]
}
wait_for 5 back_at_rest || fail "$diff_px pixels differ after the release"

# Outside the item's rectangle nothing changed.
mask() { convert "$1" -fill black -draw "rectangle 525,303 561,339" "$2"; }
mask "$OUT/rest.png" "$WORK/rest-m.png"
mask "$OUT/pressed.png" "$WORK/pressed-m.png"
diff_px=$(compare -metric AE "$WORK/rest-m.png" "$WORK/pressed-m.png" null: 2>&1 || true)
[ "$diff_px" = "0" ] || fail "$diff_px pixels changed outside the pressed item"

note "legend switch"
# The legend of "1" (key I) is written in the lower half of its picture, in black.
convert "$OUT/rest.png" -crop 37x18+525+321 +repage "$WORK/a.png"
shows_legend() {
  shot "$OUT/legend.png"
  convert "$OUT/legend.png" -crop 37x18+525+321 +repage "$WORK/b.png"
  changed=$(compare -metric AE -fuzz 10% "$WORK/a.png" "$WORK/b.png" null: 2>&1 || true)
  [[ "$changed" =~ ^[0-9]+$ ]] && ((changed > 5))
}
click_at 660 20
wait_for 5 shows_legend || fail "no legend on button 1 ($changed pixels changed)"

note "close: first-run settings file"
close_emulator
ini="$WORK/run/Zanth-Emulator.ini"
[ -f "$ini" ] || fail "no settings file written"
sections=$(grep -o '^\[[A-Z]*\]' "$ini" | tr -d '[]' | tr '\n' ' ')
[ "$sections" = "JOYSTICK CONTROLLER SOUND SYSTEM " ] || fail "sections: $sections"
count() { awk -v s="[$1]" '$0==s{on=1;next} /^\[/{on=0} on && /=/{n++} END{print n+0}' "$ini"; }
[ "$(count JOYSTICK)" = 27 ] || fail "JOYSTICK keys: $(count JOYSTICK)"
[ "$(count CONTROLLER)" = 23 ] || fail "CONTROLLER keys: $(count CONTROLLER)"
[ "$(count SOUND)" = 96 ] || fail "SOUND keys: $(count SOUND)"
[ "$(awk '/^\[SYSTEM\]/{on=1;next} on' "$ini" | tr -d '\r' | tr '\n' ' ')" = "SLIDER=0 PORT=0 " ] ||
  fail "SYSTEM section: $(awk '/^\[SYSTEM\]/{on=1;next} on' "$ini")"
echo "PASS"

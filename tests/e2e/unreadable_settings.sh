#!/usr/bin/env bash
# A settings file that cannot be read is named at start, in the active language, with the file and the reason,
# and left untouched: a FIFO (which must not keep the window from coming up), a directory and a file over the
# size limit (each named with --config: a start folder holding no regular settings file is no portable one).
# XDG_CONFIG_HOME naming a file is also told at start: settings cannot be saved below it; so is a settings
# link to nothing in the start folder.
# SIGTERM also closes the box at start and the "could not be saved" box after closing.
source "$(dirname "$0")/lib.bash"

INI=$WORK/run/Zanth-Emulator.ini
count_windows() { xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l; }
box_up() { xdotool search --all --onlyvisible --pid "$EMU_PID" --name "^$1\$" >/dev/null; }
# ok_box CAPTION: clicks OK, at the box's lower right corner (no window manager gives the box the focus).
ok_box() {
  local box WIDTH HEIGHT
  box=$(xdotool search --all --onlyvisible --pid "$EMU_PID" --name "^$1\$" | head -n1)
  eval "$(xdotool getwindowgeometry --shell "$box")"
  xdotool mousemove --window "$box" $((WIDTH - 34)) $((HEIGHT - 20)) click 1
  wait_for 5 eval "! box_up '$1'" || fail "$what: the box did not close on OK"
}

# says CAPTION TEXT REASON: the box at start is up, and what it says is in the log.
says() {
  wait_for 10 box_up "$1" || fail "$what: no '$1' box at start"
  grep -qF "$2" "$WORK/emulator.log" || fail "$what: the start-up text is not '$2': $(cat "$WORK/emulator.log")"
  grep -qF "$INI" "$WORK/emulator.log" || fail "$what: the file is not named"
  grep -qF "$3" "$WORK/emulator.log" || fail "$what: the reason '$3' is not given"
}

ends_on_sigterm() {
  kill -TERM "$EMU_PID"
  wait_for 15 exited "$EMU_PID" || fail "$what: the program did not end on SIGTERM"
}

start_x
mkdir -p "$WORK/run"

what="FIFO"
mkfifo "$INI"
start_emulator --lang en --config "$INI"
says WARNING "The settings file cannot be read" "Not a regular file"
ends_on_sigterm
[ -p "$INI" ] || fail "$what: the FIFO was replaced"
note "$what: named at start, closed by SIGTERM, left alone"
rm "$INI"

what="directory"
mkdir "$INI"
start_emulator --lang en --config "$INI"
says WARNING "will be left untouched" "Is a directory"
ok_box WARNING
timeout 10 xdotool windowfocus --sync "$WID" key Escape
wait_for 10 box_up WARNING || fail "$what: no 'could not be saved' box at close"
ends_on_sigterm
[ -d "$INI" ] && [ -z "$(ls -A "$INI")" ] || fail "$what: the directory was changed"
note "$what: named at start, the box at close closed by SIGTERM, left alone"
rmdir "$INI"

what="too large, in Japanese"
{ echo "[SYSTEM]"; head -c $((5 * 1024 * 1024)) /dev/zero | tr '\0' ';'; } >"$INI"
sum=$(md5sum <"$INI")
start_emulator --lang ja --config "$INI"
says "警告" "設定ファイルを読み込めない" "File too large"
ok_box "警告"
close_emulator_through_box() {
  timeout 10 xdotool windowfocus --sync "$WID" key Escape
  wait_for 10 box_up "警告" || fail "$what: no 'could not be saved' box at close"
  ok_box "警告"
  wait_for 15 exited "$EMU_PID" || fail "$what: the program did not end"
}
close_emulator_through_box
[ "$(md5sum <"$INI")" = "$sum" ] || fail "$what: the file was changed"
note "$what: named at start in Japanese, left alone"

what="XDG_CONFIG_HOME naming a file"
# A folder of that name in the start folder is no portable settings file, so the settings go below
# XDG_CONFIG_HOME, where they cannot be saved: told at start, not only when closing.
rm "$INI"
mkdir "$INI"
XDG_FILE=$WORK/xdg-file
echo "not a folder" >"$XDG_FILE"
INI=$XDG_FILE/zanth-emulator/Zanth-Emulator.ini
XDG_CONFIG_HOME=$XDG_FILE
start_emulator --lang en
XDG_CONFIG_HOME=$WORK/config
says WARNING "Settings cannot be saved in this place" "$XDG_FILE: Not a directory"
ok_box WARNING
ends_on_sigterm
[ "$(cat "$XDG_FILE")" = "not a folder" ] || fail "$what: the file was changed"
note "$what: named at start with the reason"

what="a link to nothing in the start folder"
# It is the portable settings file, though it cannot be read: told at start, never replaced by the home's file.
INI=$WORK/run/Zanth-Emulator.ini
rm -rf "$INI"
ln -s "$WORK/gone.ini" "$INI"
(cd "$WORK/run" && SDL_AUDIODRIVER=dummy exec "$ZANTH_BIN/zanth-emulator" --lang en >"$WORK/emulator.log" 2>&1) &
EMU_PID=$!
PIDS+=($EMU_PID)
says WARNING "The settings file cannot be read" "gone.ini"
ok_box WARNING
ends_on_sigterm
[ -L "$INI" ] && [ ! -e "$WORK/gone.ini" ] || fail "$what: the link or what it points to was written"
[ ! -e "$XDG_CONFIG_HOME/zanth-emulator/Zanth-Emulator.ini" ] || fail "$what: the home's settings file was used"
note "$what: named at start, left alone"
echo "PASS"

#!/usr/bin/env bash
# The system speaks Japanese, but the left Shift key is held while the program starts: the texts are English.
# Without Shift the same start is Japanese. The key state is read from the X server before any window exists.
source "$(dirname "$0")/lib.bash"

start_x
title() { xdotool getwindowname "$WID"; }
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

xdotool keydown Shift_L
start_emulator
xdotool keyup Shift_L
[ "$(title)" = "Zanth-Emulator Version 1.0.0.2" ] || fail "Shift held: title '$(title)', not English"
close_emulator

start_emulator
[ "$(title)" = "Zanthエミュレータ Version 1.0.0.2" ] || fail "no Shift: title '$(title)', not Japanese"
close_emulator
echo "PASS"

#!/usr/bin/env bash
# The program as an installation brings it: `cmake --install` into a staging folder (DESTDIR) puts every file
# where the menu, the icon theme, man and the software centre look, and the desktop entry and the metainfo
# validate. The man pages name every option of their program's --help, the copyright file carries the licence,
# and the changelog and the metainfo list the same releases. The installed program answers --help, --version
# and a bad option without a display, and, started from a folder without settings, keeps them in
# ~/.config/zanth-emulator, made private to the user.
source "$(dirname "$0")/lib.bash"
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

cache() { sed -n "s/^$1:[A-Z]*=//p" "$ZANTH_BIN/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
version=$(cache CMAKE_PROJECT_VERSION)
stage=$WORK/stage
DESTDIR=$stage cmake --install "$ZANTH_BIN" >"$WORK/install.log" || fail "cmake --install: $(tail -3 "$WORK/install.log")"
root=$stage$prefix

note "files where they are looked for"
doc=$root/share/doc/zanth-emulator
for f in bin/zanth-emulator bin/zanth-robot-sim share/applications/zanth-emulator.desktop \
  share/icons/hicolor/scalable/apps/zanth-emulator.svg share/man/man1/zanth-emulator.1.gz \
  share/man/man1/zanth-robot-sim.1.gz share/doc/zanth-emulator/copyright share/doc/zanth-emulator/changelog.gz \
  share/doc/zanth-emulator/Zanth-Emulator_10_ENG.pdf "share/doc/zanth-emulator/Zanthエミュレータ取扱説明書.pdf"; do
  [ -s "$root/$f" ] || fail "not installed: $f"
done
[ -x "$root/bin/zanth-emulator" ] || fail "the program is not executable"
for side in 16 24 32 48 64 128 256; do
  png=$root/share/icons/hicolor/${side}x${side}/apps/zanth-emulator.png
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${side}x${side}" ] || fail "icon ${side}x${side}"
done
for program in zanth-emulator zanth-robot-sim; do
  page=$(zcat "$root/share/man/man1/$program.1.gz")
  grep -q "^\.TH \"${program^^}\" \"1\"" <<<"$page" || fail "man page header of $program"
  options=$(env -u DISPLAY LC_ALL=C.UTF-8 "$root/bin/$program" --help |
    sed -n 's/^  \(-[a-z], \)\?\(--[a-z-]*\).*/\2/p')
  [ -n "$options" ] || fail "no options found in $program --help"
  for option in $options; do
    grep -qF "\\f[B]$option\\f[R]" <<<"$page" || fail "the man page of $program does not describe $option"
  done
done
for pdf in "$root"/share/doc/zanth-emulator/*.pdf; do
  pdfinfo "$pdf" >/dev/null || fail "not a PDF: $pdf"
done

note "desktop entry and metainfo"
desktop=$root/share/applications/zanth-emulator.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx "Icon=zanth-emulator" "$desktop" || fail "desktop entry names another icon"
# The entry and each of its actions start an installed program.
while read -r exec_name; do
  [ -x "$root/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed program"
done < <(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
grep -q "^Exec=zanth-emulator --choose-config$" "$desktop" || fail "no action that asks for a settings file"
metainfo=("$root"/share/metainfo/*.metainfo.xml)
((${#metainfo[@]} == 1)) && [ -f "${metainfo[0]}" ] || fail "metainfo: ${metainfo[*]}"
appstreamcli validate --no-net "${metainfo[0]}" >"$WORK/appstream.log" 2>&1 ||
  fail "metainfo does not validate: $(cat "$WORK/appstream.log")"
id=$(sed -n 's|.*<id>\(.*\)</id>.*|\1|p' "${metainfo[0]}")
[ "$(basename "${metainfo[0]}")" = "$id.metainfo.xml" ] || fail "metainfo file is not named after its id $id"
grep -q "<launchable type=\"desktop-id\">zanth-emulator.desktop</launchable>" "${metainfo[0]}" ||
  fail "metainfo does not launch the desktop entry"
[ "$(grep -c "<screenshot" "${metainfo[0]}")" -ge 2 ] || fail "metainfo has no screenshots"

note "changelog and copyright"
# Releases as "VERSION DATE" lines, newest first, from the Debian changelog and from the metainfo.
debian_releases=$(zcat "$doc/changelog.gz" | while read -r line; do
  if [[ $line =~ ^zanth-emulator\ \(([^\)]+)\) ]]; then printf '%s ' "${BASH_REMATCH[1]}"; fi
  if [[ $line =~ ^--\ .*\ \ (.+)$ ]]; then date -u -d "${BASH_REMATCH[1]}" +%F; fi
done)
appstream_releases=$(sed -n 's/.*<release version="\([^"]*\)" date="\([^"]*\)".*/\1 \2/p' "${metainfo[0]}")
[ -n "$debian_releases" ] && [ "$debian_releases" = "$appstream_releases" ] ||
  fail "changelog and metainfo list other releases: [$debian_releases] [$appstream_releases]"
[ "${debian_releases%% *}" = "$version" ] || fail "the newest release is not $version: $debian_releases"
grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$doc/copyright" ||
  fail "the copyright file is not machine-readable"
# Its licence paragraph is LICENSE's terms, each line indented and blank lines as " .".
diff <(sed -n '/^Permission/,$p' "$source_dir/LICENSE" | sed 's/^$/./; s/^/ /') \
  <(sed -n '/^ Permission/,$p' "$doc/copyright") >"$WORK/licence.diff" ||
  fail "the copyright file does not carry the licence: $(cat "$WORK/licence.diff")"

note "command line without a display"
bin=$root/bin/zanth-emulator
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
out=$(nodisplay LANG=C.UTF-8 LC_ALL= "$bin" --version) || fail "--version exit code $?"
[ "$out" = "zanth-emulator $version" ] || fail "--version: $out"
out=$(nodisplay LANG=C.UTF-8 LC_ALL= "$bin" --help) || fail "--help exit code $?"
[[ "$out" == Usage:*--config* ]] || fail "--help (English): $out"
out=$(nodisplay LANG=ja_JP.UTF-8 LC_ALL= LC_MESSAGES= "$bin" --help) || fail "--help exit code $?"
[[ "$out" == 使い方:*--config* ]] || fail "--help (Japanese): $out"
rc=0
nodisplay LANG=C.UTF-8 LC_ALL= "$bin" --lang en --bogus >"$WORK/out" 2>"$WORK/err" || rc=$?
((rc == 2)) || fail "a bad option exits with $rc, not 2: $(cat "$WORK/err")"
[ ! -s "$WORK/out" ] || fail "a bad option printed to stdout"
grep -q "unknown option: --bogus" "$WORK/err" || fail "bad option message: $(cat "$WORK/err")"
grep -q "zanth-emulator --help" "$WORK/err" || fail "bad option message names no help"
rc=0
nodisplay HOME="$WORK/nodisplay" LANG=C.UTF-8 LC_ALL= "$bin" --lang en >"$WORK/out" 2>"$WORK/err" || rc=$?
((rc == 1)) || fail "a start without a display exits with $rc, not 1: $(cat "$WORK/err")"
grep -q "no display (DISPLAY is not set)" "$WORK/err" || fail "no-display message: $(cat "$WORK/err")"

note "first start from a menu: settings into ~/.config"
start_x
home=$WORK/home
mkdir -p "$home" "$WORK/empty"
(cd "$WORK/empty" && exec env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" SDL_AUDIODRIVER=dummy \
  "$bin" --lang en >"$WORK/emulator.log" 2>&1) &
EMU_PID=$!
PIDS+=($EMU_PID)
find_window 20 "Zanth" || fail "no window"
kill -TERM "$EMU_PID"
wait_for 15 bash -c "! kill -0 $EMU_PID 2>/dev/null" || fail "the emulator did not end"
ini=$home/.config/zanth-emulator/Zanth-Emulator.ini
grep -q '^\[SYSTEM\]' "$ini" 2>/dev/null || fail "no settings in $ini: $(cat "$WORK/emulator.log")"
[ "$(stat -c %a "$home/.config")" = 700 ] && [ "$(stat -c %a "$home/.config/zanth-emulator")" = 700 ] ||
  fail "the settings folders are not private: $(stat -c '%a %n' "$home/.config" "$home/.config/zanth-emulator")"
[ -z "$(ls -A "$WORK/empty")" ] || fail "the start folder was written: $(ls -A "$WORK/empty")"
echo "PASS"

#!/usr/bin/env bash
# Takes the README's high-contrast pictures of the real window under Wine: the
# main view with a disc selected, and the settings panel, in Windows' "High
# Contrast Black" colours.
#
#   docs/screenshots/take_high_contrast.sh
#
# Wine 8 cannot be put into high contrast: SPI_SETHIGHCONTRAST fails (error
# 1439) and the registry's high-contrast flag is not reported back, so the
# launcher under Wine never sees a high-contrast theme. The pictures therefore
# come from hc_shot.exe (hc_shot.cpp beside this script): the launcher's own
# start-up and window, with its high-contrast question (the high_contrast_query
# seam of the drawing kit) answering yes, and the scheme's colours set as real
# system colours with SetSysColors, which Wine does honour; hc_shot checks
# them through GetSysColor and refuses to go on when they did not take.
#
# An Xvfb and a Wine prefix of its own ($OUT/wine-high-contrast, since the
# system colours are the prefix's); both are stopped at the end. Works in
# $OUT/shots-high-contrast and writes high-contrast.png and
# high-contrast-settings.png beside this script. The clicks go to the layout's
# coordinates at scale 1.0.
source "$(dirname "$0")/../../scripts/lib.sh"
HERE="$TOP/docs/screenshots"
SHOTS="$OUT/shots-high-contrast"
WORK_PYTHON=/usr/bin/python3

cmake --build "$OUT/build" --target hc_shot >/dev/null
SHOT_EXE="$OUT/build/docs/screenshots/hc_shot.exe"

XVFB=
PREFIX="$OUT/wine-high-contrast"
LAUNCHER_PID=
cleanup() {
  [ -n "$LAUNCHER_PID" ] && kill "$LAUNCHER_PID" 2>/dev/null || true
  WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT

n=131
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=":$n"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
export WINEPREFIX="$PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 &
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >/dev/null 2>&1 </dev/null || true
else
  wine wineboot >/dev/null 2>&1 </dev/null || true
fi

rm -rf "$SHOTS"
mkdir -p "$SHOTS/discs" "$SHOTS/launcher"
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXPE_100.01 --out "$SHOTS/discs/Tarsel and Quib (PAL).iso" >/dev/null
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXUS_200.02 --out "$SHOTS/discs/Far Orbit.iso" >/dev/null

# The launcher folder: the program, and a telvar.ini with the two discs, the
# first selected.
cp "$SHOT_EXE" "$SHOTS/launcher/"
d1=$(wine winepath -w "$SHOTS/discs/Tarsel and Quib (PAL).iso")
d2=$(wine winepath -w "$SHOTS/discs/Far Orbit.iso")
printf '[library]\r\ncount=2\r\ndisc0=%s\r\ndisc1=%s\r\nselected=0\r\n' "$d1" "$d2" > "$SHOTS/launcher/telvar.ini"

(cd "$SHOTS/launcher" && exec "$TELVAR_WINE" hc_shot.exe) >"$SHOTS/hc_shot.log" 2>&1 &
LAUNCHER_PID=$!
WINDOW=$(timeout 60 xdotool search --sync --name "^Project Telvar$" | head -1 || true)
sleep 3
if [ -z "$WINDOW" ] || ! grep -q "high contrast on" "$SHOTS/hc_shot.log"; then
  echo "hc_shot did not show the window in high contrast:" >&2
  cat "$SHOTS/hc_shot.log" >&2
  exit 1
fi

shoot() {  # file
  import -window "$WINDOW" "$HERE/$1"
  echo "wrote docs/screenshots/$1"
}

# The pointer off the client area, so that no hover outline is in the picture.
xdotool mousemove 10 10
sleep 1
shoot high-contrast.png

xdotool mousemove --window "$WINDOW" 570 222 click 1   # "Settings"
sleep 1
xdotool mousemove 10 10
sleep 1
shoot high-contrast-settings.png

xdotool key --window "$WINDOW" alt+F4 >/dev/null 2>&1 || true
for _ in $(seq 50); do kill -0 "$LAUNCHER_PID" 2>/dev/null || break; sleep 0.1; done
wait "$LAUNCHER_PID" 2>/dev/null || true
LAUNCHER_PID=

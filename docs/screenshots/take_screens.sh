#!/usr/bin/env bash
# Shows the window on the screens people have: a 1366 x 768 laptop at 100 %
# and a 1920 x 1080 screen at 150 %. For each, an Xvfb of that size and a Wine
# prefix of its own at that scale (the registry's LogPixels); the launcher is
# driven with keys and xdotool only, and the whole screen is taken each time,
# so that the pictures show the window lying inside it.
#
#   docs/screenshots/take_screens.sh
#
# Writes screen-<width>x<height>-<what>.png beside this script: the first
# size, the focus ring after a few Tabs, the settings panel scrolled to its
# end with End, the narrowest window, and in it the settings panel scrolled
# by Tab to a control below the fold. (The high-contrast pictures come from
# take_high_contrast.sh: Wine 8 refuses to switch a high-contrast theme on, so
# that script answers the launcher's query itself and sets the system colours.)
source "$(dirname "$0")/../../scripts/lib.sh"
HERE="$TOP/docs/screenshots"
SHOTS="$OUT/shots-screens"
WORK_PYTHON=/usr/bin/python3

cmake --build "$OUT/build" --target ProjectTelvar >/dev/null

rm -rf "$SHOTS"
mkdir -p "$SHOTS/discs"
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXPE_100.01 --out "$SHOTS/discs/Tarsel and Quib (PAL).iso" >/dev/null
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXUS_200.02 --out "$SHOTS/discs/Far Orbit.iso" >/dev/null

SCREEN_XVFB=
SCREEN_PREFIX=
stop_screen() {
  [ -n "$SCREEN_PREFIX" ] && WINEPREFIX="$SCREEN_PREFIX" wineserver -k 2>/dev/null || true
  [ -n "$SCREEN_XVFB" ] && kill "$SCREEN_XVFB" 2>/dev/null || true
  SCREEN_XVFB=
}
trap stop_screen EXIT

# An X server of the screen's size and a prefix at its scale, both fresh.
start_screen() {  # width height dpi
  local n=121
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${1}x${2}x24" -nolisten tcp >/dev/null 2>&1 &
  SCREEN_XVFB=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  SCREEN_PREFIX="$OUT/wine-screen-$3"
  export WINEPREFIX="$SCREEN_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1 </dev/null || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$3" /f >/dev/null 2>&1 </dev/null
  # The scale is read when the server's first process starts: start again.
  wineserver -k 2>/dev/null || true
  wineserver -p >/dev/null 2>&1 &
  wine wineboot >/dev/null 2>&1 </dev/null || true
}

# A launcher folder with two discs, the first selected; with a [window]
# section when a size is given (the place a launcher remembers).
prepare() {  # folder [width height]
  local dir="$SHOTS/$1" d1 d2
  mkdir -p "$dir"
  cp "$OUT/bin/ProjectTelvar.exe" "$dir/"
  d1=$(wine winepath -w "$SHOTS/discs/Tarsel and Quib (PAL).iso")
  d2=$(wine winepath -w "$SHOTS/discs/Far Orbit.iso")
  printf '[library]\r\ncount=2\r\ndisc0=%s\r\ndisc1=%s\r\nselected=0\r\n' "$d1" "$d2" > "$dir/telvar.ini"
  if [ $# -ge 3 ]; then
    printf '[window]\r\nx=0\r\ny=0\r\nwidth=%s\r\nheight=%s\r\nmaximized=0\r\n' "$2" "$3" >> "$dir/telvar.ini"
  fi
}

LAUNCHER_PID=
WINDOW=
start_launcher() {  # folder
  (cd "$SHOTS/$1" && exec "$TELVAR_WINE" ProjectTelvar.exe) >/dev/null 2>&1 &
  LAUNCHER_PID=$!
  WINDOW=$(xdotool search --sync --name "^Project Telvar$" | head -1)
  sleep 3
}

stop_launcher() {
  xdotool key --window "$WINDOW" alt+F4 >/dev/null 2>&1 || true
  sleep 1
  kill "$LAUNCHER_PID" 2>/dev/null || true
  wait "$LAUNCHER_PID" 2>/dev/null || true
}

# Keys go through the X server's keyboard to the focused window, as typed.
keys() {
  xdotool windowfocus "$WINDOW" 2>/dev/null || true
  xdotool key --delay 150 "$@"
  sleep 1
}

shoot() {  # name
  import -window root "$HERE/$SCREEN_NAME-$1.png"
  echo "wrote docs/screenshots/$SCREEN_NAME-$1.png"
  # Where the frame lies on the screen, for the report.
  xwininfo -id "$WINDOW" | sed -n 's/^ *\(Absolute upper-left [XY]\|Width\|Height\): */  \1 /p' | tr '\n' ' '
  echo
}

for screen in "1366 768 96" "1920 1080 144"; do
  set -- $screen
  SCREEN_NAME="screen-${1}x${2}"
  start_screen "$1" "$2" "$3"

  prepare "$SCREEN_NAME"
  start_launcher "$SCREEN_NAME"
  shoot first-size
  # Rows, the sidebar's buttons, then Build: the ring on the fifth.
  keys Tab Tab Tab Tab Tab
  shoot focus-ring
  # On to Settings, open it, and End scrolls the panel to its foot.
  keys Tab space
  keys End
  shoot settings-scrolled
  stop_launcher

  # The narrowest window: a remembered place of 300 x 300 is held at the
  # smallest client area the window takes.
  prepare "$SCREEN_NAME-narrow" 300 300
  start_launcher "$SCREEN_NAME-narrow"
  shoot narrowest
  keys Tab Tab Tab Tab Tab Tab space
  # From the top of the panel down to the level stepper, which Tab brings
  # into sight.
  keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab
  shoot narrowest-settings-tab
  stop_launcher

  stop_screen
done

#!/usr/bin/env bash
# Takes the README's screenshots from the real launcher under Wine on an Xvfb:
# an empty library, a disc ready to build, a build in progress (the stand-in
# release and interpreter, slowed down) and the settings panel.
#
#   TELVAR_OUT=out/face docs/screenshots/take.sh
#
# Builds what it needs, works in $OUT/shots, writes the PNGs beside this
# script. The clicks go to the layout's coordinates at scale 1.0.
source "$(dirname "$0")/../../scripts/lib.sh"
HERE="$TOP/docs/screenshots"
SHOTS="$OUT/shots"
WORK_PYTHON=/usr/bin/python3

cmake --build "$OUT/build" --target ProjectTelvar standin_python standin_game >/dev/null
ensure_display
start_wine
trap stop_wine EXIT

rm -rf "$SHOTS"
mkdir -p "$SHOTS/discs"
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXPE_100.01 --out "$SHOTS/discs/Tarsel and Quib (PAL).iso" >/dev/null
"$WORK_PYTHON" "$TOP/tools/make-disc" --serial SXUS_200.02 --out "$SHOTS/discs/Far Orbit.iso" >/dev/null
"$WORK_PYTHON" "$TOP/tools/make-demo-release" --interpreter "$OUT/build/tools/standin_python/standin_python.exe" \
  --game-exe "$OUT/build/tools/standin_game/standin_game.exe" --out "$SHOTS/release" >/dev/null

# A launcher folder; with discs, a telvar.ini listing them and the release.
prepare() {  # name, with_discs
  local dir="$SHOTS/$1"
  mkdir -p "$dir"
  cp "$OUT/bin/ProjectTelvar.exe" "$dir/"
  if [ "$2" = 1 ]; then
    local d1 d2 base
    d1=$("$TELVAR_WINE" winepath -w "$SHOTS/discs/Tarsel and Quib (PAL).iso")
    d2=$("$TELVAR_WINE" winepath -w "$SHOTS/discs/Far Orbit.iso")
    base=$("$TELVAR_WINE" winepath -w "$SHOTS/release")
    printf '[library]\r\ncount=2\r\ndisc0=%s\r\ndisc1=%s\r\nselected=0\r\n[build]\r\nrelease_url=%s\r\n' \
      "$d1" "$d2" "$base" > "$dir/telvar.ini"
  fi
}

LAUNCHER_PID=
start_launcher() {  # name
  (cd "$SHOTS/$1" && exec "$TELVAR_WINE" ProjectTelvar.exe) >/dev/null 2>&1 &
  LAUNCHER_PID=$!
  WINDOW=$(xdotool search --sync --name "^Project Telvar$" | head -1)
  sleep 2
}

stop_launcher() {
  xdotool key --window "$WINDOW" alt+F4 >/dev/null 2>&1 || true
  sleep 1
  kill "$LAUNCHER_PID" 2>/dev/null || true
  wait "$LAUNCHER_PID" 2>/dev/null || true
}

# The window xdotool finds is the client area itself, so its coordinates are
# client coordinates.
click() {  # client x, client y
  xdotool mousemove --window "$WINDOW" "$1" "$2" click 1
}

shoot() {  # file
  import -window "$WINDOW" "$HERE/$1"
  echo "wrote docs/screenshots/$1"
}

prepare empty 0
start_launcher empty
shoot empty-library.png
stop_launcher

prepare ready 1
start_launcher ready
shoot ready-to-build.png
stop_launcher

prepare building 1
export TELVAR_STANDIN_DELAY_MS=1500
start_launcher building
click 409 222          # "Build": L + 85, the action row's middle
sleep 12
shoot build-in-progress.png
click 1021 222         # "Cancel"
sleep 2
stop_launcher
unset TELVAR_STANDIN_DELAY_MS

prepare settings 1
start_launcher settings
click 570 222          # "Settings"
sleep 1
xdotool mousemove 10 10
sleep 1
shoot settings.png
stop_launcher

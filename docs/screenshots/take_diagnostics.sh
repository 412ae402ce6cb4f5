#!/usr/bin/env bash
# Screenshots of the launcher explaining itself, from the real launcher under
# Wine on an Xvfb: a disc of another revision with the supported revision
# beside it, and a game that ended with a missing-library status code.
#
#   docs/screenshots/take_diagnostics.sh
#
# Works in $OUT/shots-diagnostics and writes the PNGs beside this script.
source "$(dirname "$0")/../../scripts/lib.sh"
HERE="$TOP/docs/screenshots"
SHOTS="$OUT/shots-diagnostics"

cmake --build "$OUT/build" --target ProjectTelvar telvar-cli standin_python standin_game >/dev/null
ensure_display
start_wine
trap stop_wine EXIT

rm -rf "$SHOTS"
mkdir -p "$SHOTS/discs" "$SHOTS/launcher"
python3 "$TOP/tools/make-disc" --serial SXPE_100.01 --out "$SHOTS/discs/Tarsel and Quib (PAL).iso" >/dev/null
printf 'a patched boot file' > "$SHOTS/patched.bin"
python3 "$TOP/tools/make-disc" --serial SXUS_100.02 --boot-file "$SHOTS/patched.bin" \
  --out "$SHOTS/discs/Tarsel and Quib (NTSC-U, patched).iso" >/dev/null
python3 "$TOP/tools/make-demo-release" --interpreter "$OUT/build/tools/standin_python/standin_python.exe" \
  --game-exe "$OUT/build/tools/standin_game/standin_game.exe" --out "$SHOTS/release" >/dev/null

dir="$SHOTS/launcher"
cp "$OUT/bin/ProjectTelvar.exe" "$OUT/bin/telvar-cli.exe" "$dir/"
# The host's / is drive Z: (winepath would need Wine's 32-bit loader).
windows_path() { echo "Z:$1" | tr / '\\'; }
d0=$(windows_path "$SHOTS/discs/Tarsel and Quib (PAL).iso")
d1=$(windows_path "$SHOTS/discs/Tarsel and Quib (NTSC-U, patched).iso")
base=$(windows_path "$SHOTS/release")
write_ini() {  # selected entry
  printf '[library]\r\ncount=2\r\ndisc0=%s\r\ndisc1=%s\r\nselected=%s\r\n[build]\r\nrelease_url=%s\r\n' \
    "$d0" "$d1" "$1" "$base" > "$dir/telvar.ini"
}
write_ini 0
(cd "$dir" && TELVAR_STANDIN_DELAY_MS=0 "$TELVAR_WINE" telvar-cli.exe build "$d0" >/dev/null)

LAUNCHER_PID=
start_launcher() {
  (cd "$dir" && exec "$TELVAR_WINE" ProjectTelvar.exe) >/dev/null 2>&1 &
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
shoot() {
  import -window "$WINDOW" "$HERE/$1"
  echo "wrote docs/screenshots/$1"
}

write_ini 1
start_launcher
shoot revision-explained.png
stop_launcher

write_ini 0
export TELVAR_STANDIN_EXIT=0xC0000135
start_launcher
xdotool key --window "$WINDOW" Return
sleep 4
shoot crash-explained.png
stop_launcher
unset TELVAR_STANDIN_EXIT

#!/usr/bin/env bash
# A screenshot of the launcher refusing a build and saying why, from the real
# launcher under Wine on an Xvfb: the disc image lies in the launcher's own
# downloads folder, whose files a build replaces and deletes.
#
#   docs/screenshots/take_refusal.sh
#
# Works in $OUT/refusal (short paths, so that the message line has room) and writes refusal-explained.png beside this script.
source "$(dirname "$0")/../../scripts/lib.sh"
HERE="$TOP/docs/screenshots"
SHOTS="$OUT/refusal"

cmake --build "$OUT/build" --target ProjectTelvar >/dev/null
ensure_display
start_wine
trap stop_wine EXIT

rm -rf "$SHOTS"
dir="$SHOTS/l"
mkdir -p "$dir/downloads"
python3 "$TOP/tools/make-disc" --serial SXPE_100.01 --out "$dir/downloads/pal.iso" >/dev/null
cp "$OUT/bin/ProjectTelvar.exe" "$dir/"
windows_path() { echo "Z:$1" | tr / '\\'; }
disc=$(windows_path "$dir/downloads/pal.iso")
printf '[library]\r\ncount=1\r\ndisc0=%s\r\nselected=0\r\n[build]\r\nrelease_url=%s\r\n' \
  "$disc" "$(windows_path "$SHOTS/no-release")" > "$dir/telvar.ini"

(cd "$dir" && exec "$TELVAR_WINE" ProjectTelvar.exe) >/dev/null 2>&1 &
LAUNCHER_PID=$!
WINDOW=$(xdotool search --sync --name "^Project Telvar$" | head -1)
sleep 2  # the disc is identified on the worker; its row reads "Ready to build" by now
xdotool key --window "$WINDOW" F5
sleep 2
import -window "$WINDOW" "$HERE/refusal-explained.png"
echo "wrote docs/screenshots/refusal-explained.png"
xdotool key --window "$WINDOW" alt+F4 >/dev/null 2>&1 || true
sleep 1
kill "$LAUNCHER_PID" 2>/dev/null || true
wait "$LAUNCHER_PID" 2>/dev/null || true

#!/usr/bin/env bash
# Takes docs/main-window.png: Shardix.exe under Wine on a virtual X server,
# the main window cut out of the screen. Build first: scripts/build-windows.sh.
#   scripts/screenshot-windows.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/main-window.png}"
exe=build/windows/src/app/Shardix.exe
[[ -f "$exe" ]] || { echo "screenshot-windows.sh: $exe is missing; run scripts/build-windows.sh" >&2; exit 1; }
bash scripts/setup-deps.sh windows screenshot

# A prefix of its own with the X11 driver, so the test prefix keeps the null
# driver; unmanaged windows, since Xvfb runs no window manager.
export WINEPREFIX="$PWD/build/windows/wineprefix-x11"
export SHARDIX_WINE_GRAPHICS=x11
mkdir -p "$(dirname "$out")"

# Everything that needs the display runs inside xvfb-run.
export SHARDIX_EXE="$exe" SHARDIX_SHOT="$out"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  . scripts/wine-env.sh
  shardix_wine_prefix
  trap shardix_wine_stop EXIT
  shardix_wine_start
  wine "$SHARDIX_EXE" >/dev/null 2>&1 &
  window=""
  for _ in $(seq 1 100); do
    window=$(xwininfo -root -tree 2>/dev/null | grep "\"Quorvane Shardix\"" | head -1 || true)
    [[ -n "$window" ]] && break
    sleep 0.2
  done
  [[ -n "$window" ]] || { echo "screenshot-windows.sh: no Shardix window appeared" >&2; exit 1; }
  sleep 1.5   # let it paint
  id=$(echo "$window" | awk "{print \$1}")
  geometry=$(xwininfo -id "$id" | awk "/Absolute upper-left X/{x=\$NF} /Absolute upper-left Y/{y=\$NF} /Width:/{w=\$NF} /Height:/{h=\$NF} END{print w \"x\" h \"+\" x \"+\" y}")
  import -window root -crop "$geometry" +repage "$SHARDIX_SHOT"
  echo "Saved $SHARDIX_SHOT ($geometry)"
'

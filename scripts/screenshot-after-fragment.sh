#!/usr/bin/env bash
# Takes docs/window-after-fragment.png: Shardix.exe under Wine on a virtual X
# server after it split the demo file into 12 scattered fragments, with the
# Before and After bars. A driver program (tests/win/window_driver_win.cpp)
# fills in the window and clicks its buttons. Build first:
# scripts/build-windows.sh and scripts/build-native.sh.
#   scripts/screenshot-after-fragment.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
me=screenshot-after-fragment.sh
out="${1:-docs/window-after-fragment.png}"
exe=build/windows/src/app/Shardix.exe
driver=build/windows/tests/win/shardix_window_driver.exe
cli=build/native/src/cli/shardix
[[ -f "$exe" ]] || { echo "$me: $exe is missing; run scripts/build-windows.sh" >&2; exit 1; }
[[ -f "$driver" ]] || { echo "$me: $driver is missing; run scripts/build-windows.sh" >&2; exit 1; }
[[ -x "$cli" ]] || { echo "$me: $cli is missing; run scripts/build-native.sh" >&2; exit 1; }
bash scripts/setup-deps.sh windows screenshot

# A fresh demo image each time (a fragmented demo file would look different),
# in a short folder so that the file name box shows the whole path.
demo_dir=$(mktemp -d /tmp/shardix-demo.XXXX) || { echo "$me: cannot make a folder in /tmp" >&2; exit 1; }
trap 'rm -rf "$demo_dir"' EXIT
"$cli" demo "$demo_dir" >/dev/null || { echo "$me: shardix demo $demo_dir failed" >&2; exit 1; }
demo_file="$demo_dir/demo.img/demo.bin"

# The prefix of screenshot-windows.sh: X11 driver, unmanaged windows.
export WINEPREFIX="$PWD/build/windows/wineprefix-x11"
export SHARDIX_WINE_GRAPHICS=x11
mkdir -p "$(dirname "$out")"

# Everything that needs the display runs inside xvfb-run.
export SHARDIX_EXE="$exe" SHARDIX_DRIVER="$driver" SHARDIX_SHOT="$out"
export SHARDIX_FAILURE_SHOT="$PWD/build/screenshot-after-fragment-failure.png"
export SHARDIX_DEMO_FILE="Z:${demo_file//\//\\}"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  me=screenshot-after-fragment.sh
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
  [[ -n "$window" ]] || { echo "$me: no Shardix window appeared" >&2; exit 1; }

  echo "Fragmenting $SHARDIX_DEMO_FILE in the window ..."
  status=0
  timeout 240 wine "$SHARDIX_DRIVER" "$SHARDIX_DEMO_FILE" 12 1 || status=$?
  if [[ $status -ne 0 ]]; then
    # The whole screen shows what stopped it (an error box, a status line).
    import -window root "$SHARDIX_FAILURE_SHOT" 2>/dev/null || true
    if [[ $status -eq 124 ]]; then
      echo "$me: the window driver did not finish within 240 s" >&2
    else
      echo "$me: the window driver failed (exit code $status)" >&2
    fi
    echo "$me: the screen at that moment: $SHARDIX_FAILURE_SHOT" >&2
    exit 1
  fi

  sleep 1.5   # let it paint
  id=$(echo "$window" | awk "{print \$1}")
  geometry=$(xwininfo -id "$id" | awk "/Absolute upper-left X/{x=\$NF} /Absolute upper-left Y/{y=\$NF} /Width:/{w=\$NF} /Height:/{h=\$NF} END{print w \"x\" h \"+\" x \"+\" y}")
  import -window root -crop "$geometry" +repage "$SHARDIX_SHOT"
  echo "Saved $SHARDIX_SHOT ($geometry)"
'

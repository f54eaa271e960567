#!/usr/bin/env bash
# Shows the Windows program on Linux: installs what is missing, builds both
# trees, makes the demo image and starts Shardix.exe under Wine on the
# current X display, with the demo file's path to type into its file name
# box. Returns when the window is closed.
#   scripts/window-demo.sh [DIR]      (the demo image goes to DIR/demo.img;
#                                      default build/window-demo)
set -euo pipefail
cd "$(dirname "$0")/.."
me=window-demo.sh

if [[ -z "${DISPLAY:-}" ]]; then
  echo "$me: no X display (DISPLAY is not set): the window needs one." >&2
  echo "$me: run this from a desktop session, or through ssh -X; without a display," >&2
  echo "$me: scripts/screenshot-after-fragment.sh shows the window on a virtual one." >&2
  exit 1
fi

bash scripts/setup-deps.sh native windows
bash scripts/build-windows.sh
bash scripts/build-native.sh

demo_dir="${1:-build/window-demo}"
mkdir -p "$demo_dir" || { echo "$me: cannot make the folder $demo_dir" >&2; exit 1; }
demo_dir="$(cd "$demo_dir" && pwd)"
build/native/src/cli/shardix demo "$demo_dir" >/dev/null \
  || { echo "$me: shardix demo $demo_dir failed" >&2; exit 1; }
demo_file="$demo_dir/demo.img/demo.bin"

# A prefix of its own: the X11 driver, and windows that the desktop's window
# manager places (the screenshot prefix leaves them unmanaged for Xvfb).
export WINEPREFIX="$PWD/build/windows/wineprefix-desktop"
export SHARDIX_WINE_GRAPHICS=x11
export SHARDIX_WINE_MANAGED=Y
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
shardix_wine_prefix

echo
echo "Made the NTFS image $demo_dir/demo.img with the demo file $demo_file."
echo "Type (or paste) this into the window's \"File to fragment\" box, then press Analyze File:"
echo
echo "  Z:${demo_file//\//\\}"
echo
echo "Starting Shardix.exe under Wine on display $DISPLAY; close the window to end."

trap shardix_wine_stop EXIT
status=0
wine build/windows/src/app/Shardix.exe || status=$?
if [[ $status -ne 0 ]]; then
  echo "$me: Shardix.exe under Wine ended with exit code $status (is the display $DISPLAY reachable?)" >&2
  exit 1
fi

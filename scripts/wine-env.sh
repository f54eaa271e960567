# Wine settings for running the Windows tree's programs: source this file.
#
#   . scripts/wine-env.sh          # sets WINEPREFIX and friends
#   shardix_wine_prefix            # makes the prefix once (about 12 s)
#   shardix_wine_start             # server and desktop up before ctest
#   trap shardix_wine_stop EXIT
#
# The prefix is private to the build tree, uses the null graphics driver (no
# X server needed), never shows a crash dialog and never asks to install Mono
# or Gecko.

_shardix_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$_shardix_root/build/windows/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Graphics driver of the prefix: "null" for tests, "x11" for screenshots.
: "${SHARDIX_WINE_GRAPHICS:=null}"
# Whether a window manager places the windows: "N" on Xvfb, which runs none;
# "Y" for a prefix used on a desktop (scripts/window-demo.sh).
: "${SHARDIX_WINE_MANAGED:=N}"

# Creates the prefix when it is missing or was made with other settings,
# then copies the fonts that Debian's Wine does not load from its own folder.
shardix_wine_prefix() {
  local stamp="$WINEPREFIX/.shardix-prefix-$SHARDIX_WINE_GRAPHICS"
  [ "$SHARDIX_WINE_MANAGED" = N ] || stamp="$stamp-managed"
  if [ -f "$stamp" ]; then
    return 0
  fi
  mkdir -p "$WINEPREFIX" || return 1
  echo "Creating Wine prefix $WINEPREFIX ..." >&2
  wineboot -i >/dev/null 2>&1 || { echo "wineboot -i failed in $WINEPREFIX" >&2; return 1; }
  wineserver -w

  local reg="$WINEPREFIX/shardix-settings.reg"
  {
    printf 'REGEDIT4\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="%s"\n\n' "$SHARDIX_WINE_GRAPHICS"
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n'
    # Without a window manager every hidden window would wait for one.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="%s"\n"Decorated"="Y"\n\n' "$SHARDIX_WINE_MANAGED"
  } >"$reg"
  wine reg import "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1 \
    || { echo "wine reg import $reg failed" >&2; return 1; }

  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts" && cp -f /usr/share/wine/fonts/* "$fonts/" \
    || { echo "copying /usr/share/wine/fonts to $fonts failed" >&2; return 1; }
  # The settings take effect once the server has written them and stopped.
  wineserver -w
  rm -f "$WINEPREFIX"/.shardix-prefix-*
  touch "$stamp"
}

# A persistent server and the desktop process, started before ctest so that
# the helpers do not inherit (and hold open) a test's output pipe.
shardix_wine_start() {
  wineserver -p || { echo "wineserver -p failed" >&2; return 1; }
  setsid wine wineboot </dev/null >/dev/null 2>&1 &
  # wineboot has finished once the server is idle of it; a test program
  # starting meanwhile would only wait for it.
  wait $! 2>/dev/null || true
}

shardix_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}

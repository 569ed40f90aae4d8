#!/usr/bin/env bash
# Runs the tests of the Windows build under Wine, on a virtual X display:
# the core's unit tests with the Win32 backend's (gps_tests.exe) and the
# end-to-end tests of the dialog (update_dialog_tests.exe), through ctest.
# The dialog's tests leave their pictures in build/windows/ui/win32/screenshots.
# Then it photographs the dialog in the middle of an update at 96, 144 and
# 192 DPI, each after checking that the picture fills its place there, into
# build/windows/screenshots/update-<dpi>dpi.png, and checks at each of them
# that every status text fits its line (its picture beside the others).
#
#   tests/wine/run.sh                      build/windows must be built
#   tests/wine/run.sh --screenshot FILE    also copies the 192 DPI picture to
#                                          FILE (the README's)
#   tests/wine/run.sh --zip ZIP            also check the release zip (./dev
#                                          dist) as a user unpacks and starts it
#
# The Wine prefix is made afresh once per run in build/windows/wineprefix
# (the path the windows test preset names), with what the tests need:
#   - font substitutes, so that the dialogs' fonts "微軟正黑體" and "標楷體"
#     resolve to a CJK font that is installed (fonts-wqy-microhei), and a
#     font link that gives the captions and message boxes the same glyphs;
#   - a virtual desktop, in which Wine draws the window frames itself;
#   - Wine's Marlett font in the prefix, for the caption buttons.
set -euo pipefail

screenshot="" zip=""
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift 2 ;;
    --zip) zip=$(realpath "${2:?--zip needs a file}"); shift 2 ;;
    *) echo "usage: $0 [--screenshot FILE] [--zip ZIP]" >&2; exit 2 ;;
  esac
done
cd "$(dirname "$0")/../.."

build=$PWD/build/windows
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No downloads of Mono or Gecko: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Debian's wine64 keeps its loader and server off PATH; elsewhere they are on it.
if [ -x /usr/lib/wine/wine64 ]; then
  WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
else
  WINE=$(command -v wine64 || command -v wine) WINESERVER=$(command -v wineserver)
fi

# Writes a registry file as regedit reads it: UTF-16 with a byte order mark.
reg_file() {  # FILE, then the text on stdin
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } > "$1"
}

# hex(7): a REG_MULTI_SZ value in UTF-16.
multi_sz() {
  printf '%s\0\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
    tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

make_prefix() {
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "== creating the Wine prefix $WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  local link
  link=$(multi_sz "wqy-microhei.ttc,WenQuanYi Micro Hei")
  reg_file "$WINEPREFIX/drive_c/gps-tests.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]
"微軟正黑體"="WenQuanYi Micro Hei"
"標楷體"="WenQuanYi Micro Hei"

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]
"Tahoma"=hex(7):$link
"MS Shell Dlg"=hex(7):$link
"Microsoft Sans Serif"=hex(7):$link

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="1400x1000"
EOF
  "$WINE" regedit /S 'C:\gps-tests.reg'
  rm "$WINEPREFIX/drive_c/gps-tests.reg"
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
  "$WINESERVER" -w
}

# The rest runs with a display: Xvfb of our own unless one is given.
if [ -z "${GPS_IN_XVFB:-}" ]; then
  make_prefix
  exec env GPS_IN_XVFB=1 xvfb-run -a -s "-screen 0 1400x1000x24 -nolisten tcp" \
    "$PWD/tests/wine/run.sh" ${screenshot:+--screenshot "$screenshot"} ${zip:+--zip "$zip"}
fi

# One wine server for the whole run, so that each program starts quickly.
# Wine's own services start here, away from ctest's output pipes: a process
# that inherits them keeps ctest waiting for their end.
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
"$WINE" wineboot >/dev/null 2>&1

# The windows test preset gives a failing test program one more try: the
# end-to-end dialog tests failed once in about twenty runs under Wine and
# Xvfb, and could not be made to fail again (a hundred runs in a row passed).
# The dialog's tests photograph what they show (the file line, an update in
# progress, a failure halfway, the close question, ...) as BMP files, which
# become PNG files in build/windows/ui/win32/screenshots.
views=$build/ui/win32/screenshots
rm -rf "$views"
mkdir -p "$views"
GPS_SCREENSHOT_DIR="Z:$(echo "$views" | tr / '\\')" ctest --preset windows
for bmp in "$views"/*.bmp; do
  [ -f "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
echo "== the dialog's views: $(cd "$views" && echo *.png)"

# The release zip, unpacked and started as a user does, in this Wine.
if [ -n "$zip" ]; then
  WINE=$WINE LC_ALL=C.UTF-8 packaging/check_zip.sh "$zip"
fi

# Wine's LogPixels, which each new process reads.
set_dpi() {  # DPI
  local dpi=$1
  reg_file "$WINEPREFIX/drive_c/gps-dpi.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$(printf '%08x' "$dpi")
EOF
  "$WINE" regedit /S 'C:\gps-dpi.reg'
  rm "$WINEPREFIX/drive_c/gps-dpi.reg"
}

# The dialog at one DPI, photographed in the middle of an update once the
# driver has checked its picture there.
photograph() {  # DPI FILE
  local dpi=$1 file=$2 signals driver x y w h status=0
  signals=$(mktemp -d)
  GPS_SCREENSHOT_DIR="Z:$(echo "$signals" | tr / '\\')" \
    "$WINE" "$build/ui/win32/update_dialog_tests.exe" --gtest_also_run_disabled_tests \
    --gtest_filter='*HoldMidUpdateForAScreenshot' --gtest_brief=1 &
  driver=$!
  for _ in $(seq 300); do
    [ -f "$signals/ready" ] && break
    kill -0 "$driver" 2>/dev/null || break
    sleep 0.1
  done
  if [ -f "$signals/ready" ]; then
    read -r x y w h < "$signals/ready"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$file"
    touch "$signals/done"
  fi
  wait "$driver" || status=$?
  rm -rf "$signals"
  if [ "$status" -ne 0 ] || [ ! -f "$file" ]; then
    echo "== the dialog at $dpi DPI failed its check (above)" >&2
    return 1
  fi
  echo "== $file"
}

shots=$build/screenshots
rm -rf "$shots"
mkdir -p "$shots"
echo "== the dialog in the middle of an update at 96, 144 and 192 DPI"
failed=0
for dpi in 96 144 192; do
  set_dpi "$dpi"
  photograph "$dpi" "$shots/update-${dpi}dpi.png" || failed=1
  GPS_SCREENSHOT_DIR="Z:$(echo "$views" | tr / '\\')" \
    "$WINE" "$build/ui/win32/update_dlg_tests.exe" --gtest_filter='*LongestStatusText*' \
    --gtest_brief=1 || { echo "== the status texts do not fit at $dpi DPI" >&2; failed=1; }
done
set_dpi 96
for bmp in "$views"/*.bmp; do
  [ -f "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
[ "$failed" -eq 0 ]
if [ -n "$screenshot" ]; then
  mkdir -p "$(dirname "$screenshot")"
  cp "$shots/update-192dpi.png" "$screenshot"
  echo "== wrote $screenshot"
fi

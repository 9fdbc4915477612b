#!/usr/bin/env bash
# Runs the test-only Properties demo under wine inside Xvfb: the self-test first, then the
# dialog on screen for two screenshots (as opened, and with the creation time open for
# editing). Usage: tests/e2e/run_properties_demo.sh [build folder]   (default build/windows)
# Exit status: that of the self-test, or 1 when a step timed out.
set -u
if [ "${1:-}" = --inner ]; then
  inner_mode=1
  shift
fi
build=$(cd "${1:-build/windows}" && pwd)
exe="$build/src/ui/properties-demo.exe"
out="$build/properties-demo"
[ -f "$exe" ] || { echo "no $exe: build the windows preset first" >&2; exit 1; }

export WINEPREFIX="$build/wine-properties"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

inner() {
  set -u
  cd "$out"
  # A fresh prefix is set up on first use; wine's own output goes to files, never pipes.
  timeout 180 wineboot -i >wineboot.log 2>&1
  # Xvfb has no window manager: wine draws the captions itself.
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >reg.log 2>&1
  timeout 120 wine "$exe" --selftest selftest.log >wine-selftest.log 2>&1
  status=$?
  for shot in plain edit; do
    rm -rf "$shot" && mkdir "$shot"
    timeout 60 wine "$exe" --show "$shot" $([ $shot = edit ] && echo --edit) \
      >"wine-show-$shot.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 300); do [ -f "$shot/shown" ] && break; sleep 0.1; done
    sleep 1
    import -window root -trim +repage "properties-$shot.png"
    touch "$shot/close"
    wait $pid
  done
  wineserver -k
  exit $status
}
if [ -n "${inner_mode:-}" ]; then
  inner
fi
rm -rf "$out" && mkdir -p "$out"
timeout 600 xvfb-run -a -s "-screen 0 800x600x24" "$0" --inner "$build" >"$out/xvfb.log" 2>&1
status=$?
cat "$out/selftest.log" 2>/dev/null
echo "screenshots: $out/properties-plain.png $out/properties-edit.png"
exit $status

# The web page's pace per output report set against a bare sendReport loop in the same browser, on the same device, 8 in flight.
BUDGET=720

guest() {
  # shellcheck source=../../../web/tests/vm_guest.sh
  source "$GPS_SOURCE/web/tests/vm_guest.sh"
  mkdir -p /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  image 64000
  device_up
  # The bare loop sends as many reports as the page's write step: the
  # write command and 1,004 data reports.
  web_page page --timeout 600 --window 8 --bare-loop 1005 --probe code_data.bin
  device_stop
}

check() {
  expect_status 0 page
  expect_image code_data.bin
  local page bare
  page=$(sed -n 's/^write_ms //p' page.err)
  bare=$(sed -n 's/^bare_ms \([0-9.]*\) .*/\1/p' page.err)
  if [ -z "$page" ] || [ -z "$bare" ]; then
    fail "no pace measured: $(tr '\n' ' ' < page.err)"
    return
  fi
  local line
  while read -r line; do figure "$line"; done < <(grep -E '^(probe|main_thread|cpu)_' page.err)
  figure "$(awk -v p="$page" -v b="$bare" 'BEGIN {
    printf "1,005 output reports, 8 in flight: page %.1f ms per report, bare sendReport loop %.1f ms per report, ratio %.2f", p / 1005, b / 1005, p / b }')"
  awk -v p="$page" -v b="$bare" 'BEGIN { exit !(p <= 1.3 * b) }' ||
    fail "the page took more than 1.3 times the bare loop's time ($page ms against $bare ms)"
}

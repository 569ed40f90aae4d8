# The web page's pace per output report set against a bare sendReport loop in the same browser, on the same device, 8 in flight.
BUDGET=720

guest() {
  # shellcheck source=../../../web/tests/vm_guest.sh
  source "$GPS_SOURCE/web/tests/vm_guest.sh"
  mkdir -p /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  image 64000
  device_up
  # The page's time is that of its image pages, from "正在寫入資料庫..."
  # (the write command has gone) to "資料庫寫入成功!": 1,004 data reports.
  # The bare loop sends as many, before the page and again after it.
  web_page page --timeout 600 --window 8 --bare-loop 1004 --probe code_data.bin
  device_stop
}

check() {
  expect_status 0 page
  expect_image code_data.bin
  local page bare
  page=$(sed -n 's/^write_ms //p' page.err)
  # The faster of the two bare loops: the page is held to the browser's best.
  bare=$(sed -n 's/^bare\(_after\)\{0,1\}_ms \([0-9.]*\) .*/\2/p' page.err |
         sort -g | head -1)
  if [ -z "$page" ] || [ -z "$bare" ]; then
    fail "no pace measured: $(tr '\n' ' ' < page.err)"
    return
  fi
  local line
  while read -r line; do figure "$line"; done < <(grep -E '^(bare|probe|main_thread|cpu)_' page.err)
  figure "$(awk -v p="$page" -v b="$bare" 'BEGIN {
    printf "1,004 data reports, 8 in flight: page %.1f ms per report, bare sendReport loop %.1f ms per report (the faster run), ratio %.2f", p / 1004, b / 1004, p / b }')"
  awk -v p="$page" -v b="$bare" 'BEGIN { exit !(p <= 1.3 * b) }' ||
    fail "the page took more than 1.3 times the bare loop's time ($page ms against $bare ms)"
}

# The web page's pace per output report set against a bare sendReport loop in the same browser, on the same device, 8 in flight.
BUDGET=1200

guest() {
  # shellcheck source=../../../web/tests/vm_guest.sh
  source "$GPS_SOURCE/web/tests/vm_guest.sh"
  mkdir -p /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  image 64000
  device_up
  # The page's time is that of its image pages, from "正在寫入資料庫..."
  # (the write command has gone) to "資料庫寫入成功!": 1,004 data reports.
  # The bare loop sends as many, before each of the page's five updates
  # and after the last.
  web_page page --timeout 600 --window 8 --bare-loop 1004 --pages 5 --probe code_data.bin
  device_stop
}

check() {
  expect_status 0 page
  expect_image code_data.bin
  # The browser and the VM grow faster over the minutes of a run (QEMU
  # translates the browser's new machine code as it first runs), so each
  # update of the page is held against the mean of the bare loops just
  # before and just after it. A single loop varies by up to twice its time
  # within a run, so one ratio says little: what counts is the median of the
  # updates after the first (which also pays for the core's compile).
  local writes bares
  writes=$(sed -n 's/^write[0-9]*_ms //p' page.err)
  bares=$(sed -n 's/^bare[a-z0-9_]*_ms \([0-9.]*\) .*/\1/p' page.err)
  if [ -z "$writes" ] || [ "$(wc -l <<< "$bares")" -ne $(($(wc -l <<< "$writes") + 1)) ]; then
    fail "no pace measured: $(tr '\n' ' ' < page.err)"
    return
  fi
  local line
  while read -r line; do figure "$line"; done < <(grep -E '^(write[0-9]*_ms|bare[a-z0-9_]*_ms|probe|main_thread|cpu)_?' page.err)
  local k=0 page before after ratio ratios=()
  while read -r page; do
    before=$(sed -n "$((k + 1))p" <<< "$bares")
    after=$(sed -n "$((k + 2))p" <<< "$bares")
    ratio=$(awk -v p="$page" -v b="$before" -v a="$after" 'BEGIN { printf "%.2f", 2 * p / (b + a) }')
    figure "$(awk -v k=$((k + 1)) -v p="$page" -v b="$before" -v a="$after" -v r="$ratio" 'BEGIN {
      printf "update %d: 1,004 data reports, 8 in flight: page %.1f ms per report, bare sendReport loop %.1f before and %.1f after, ratio %s", k, p / 1004, b / 1004, a / 1004, r }')"
    if [ "$k" -gt 0 ]; then ratios+=("$ratio"); fi
    k=$((k + 1))
  done <<< "$writes"
  if [ ${#ratios[@]} -eq 0 ]; then
    fail "only one update of the page was measured: its first pays for the core's compile"
    return
  fi
  local median
  median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END {
    printf "%.2f", NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
  figure "median of updates 2 to $k: ratio $median"
  awk -v r="$median" 'BEGIN { exit !(r <= 1.3) }' ||
    fail "the page's updates after the first took $median times the bare loops beside them (median; more than 1.3)"
}

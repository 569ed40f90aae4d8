# The web page in headless Chromium, a kiosk by its kiosk.json, updates the device through WebHID, usbhid and hidraw: 64,000 bytes.
BUDGET=600

guest() {
  # shellcheck source=../../../web/tests/vm_guest.sh
  source "$GPS_SOURCE/web/tests/vm_guest.sh"
  # Chromium keeps its shared memory in /dev/shm, which the VM's root lacks.
  mkdir -p /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  image 64000
  device_up
  web_page page --timeout 480 code_data.bin
  device_stop
}

check() {
  expect_status 0 page
  # The page's own look at the device first, then the update's texts as the
  # native programs show them.
  expect_output page < <(printf '%s\n' 設備連線正常! "$UPDATE_TEXTS")
  expect_updated 64000
  local ms
  ms=$(sed -n 's/^update_ms //p' page.err)
  [ -n "$ms" ] && figure "page: 64,000 bytes in $ms ms, $(awk -v ms="$ms" 'BEGIN { printf "%.1f", ms / 1013 }') ms per output report (1013 reports)"
}

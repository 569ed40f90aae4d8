# The Linux CLI updates a device behind usbcore, usbhid and hidraw: 1 MiB.
BUDGET=150

guest() {
  image 1048576
  device_up
  cli
  device_stop
}

check() {
  expect_status 0
  expect_output <<< "$UPDATE_TEXTS"
  expect_updated 1048576
  # Beside the web page's figure (web-64000): the native program on the same stack.
  figure "native CLI: 1 MiB in $(cat cli.ms) ms, $(awk -v ms="$(cat cli.ms)" 'BEGIN { printf "%.2f", ms / 16397 }') ms per output report (16397 reports, its start included)"
}

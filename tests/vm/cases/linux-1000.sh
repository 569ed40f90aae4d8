# The Linux CLI updates a device behind usbcore, usbhid and hidraw: 1000 bytes.
BUDGET=60

guest() {
  image 1000
  device_up
  cli
  device_stop
}

check() {
  expect_status 0
  expect_output <<< "$UPDATE_TEXTS"
  expect_updated 1000
}

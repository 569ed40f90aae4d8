# The Windows CLI under Wine (SetupDi, HidD, overlapped I/O, winebus, hidraw): 1000 bytes.
BUDGET=480
NEEDS_WINE=1

guest() {
  image 1000
  device_up
  cli_exe
  device_stop
}

check() {
  expect_status 0
  expect_output <<< "$UPDATE_TEXTS"
  expect_updated 1000
}

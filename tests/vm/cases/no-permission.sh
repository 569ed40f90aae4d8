# A device whose hidraw node this user may not open: the permission text and status 8, nothing sent.
BUDGET=60

guest() {
  image 1000
  device_up
  cli_as_nobody
  device_stop
}

check() {
  expect_status 8
  expect_output <<'OUT'
設備無存取權限! 請安裝 udev 規則 70-gps-update.rules 後重新插入設備。
OUT
  expect_nothing_sent
}

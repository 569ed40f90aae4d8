# --wait with the device plugged in a few seconds after the start: the update then runs.
BUDGET=90

guest() {
  image 1000
  gadget_add
  device_start
  run_program cli "$GPS_CLI" --wait=60 &
  local cli=$!
  wait_for_line 20 cli.out "等待設備連接..."
  pause 3  # the user plugs the device in a few seconds later
  gadget_plug
  wait "$cli"
  device_stop
}

check() {
  expect_status 0
  expect_output < <(printf '%s\n' 等待設備連接... 設備連線正常! "$UPDATE_TEXTS")
  expect_updated 1000
}

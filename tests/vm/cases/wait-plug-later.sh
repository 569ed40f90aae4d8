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
  expect_output <<'OUT'
等待設備連接...
設備連線正常!
正在清除...
正在寫入資料庫...
資料庫寫入成功!
正在寫入資料庫...
更新成功!
OUT
  expect_image code_data.bin
  expect_header 1000
  expect_commands <<'LOG'
erase 10 1
write 160 4, 16 data reports
erase 8 1
write 128 1, 4 data reports
restart
LOG
}

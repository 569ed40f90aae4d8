# Unplugged during the page writes: the failing stage's text in bounded time; plugged back in, an update runs.
BUDGET=150

guest() {
  image 1048576
  device_up
  run_program cli "$GPS_CLI" &
  local cli=$!
  wait_for_line 60 cli.out "正在寫入資料庫..."
  pause 1  # a second into the page writes, which take 4 s or more here
  gadget_unplug
  local unplugged
  unplugged=$(now_ms)
  wait "$cli"
  echo $(( $(now_ms) - unplugged )) > after-unplug.ms
  # The same device (and flash) back on the bus, and a new update.
  image 1000
  gadget_plug
  wait_until 30 has_hidraw_count 1
  run_program again "$GPS_CLI"
  device_stop
}

check() {
  expect_status 6
  expect_output <<'OUT'
正在清除...
正在寫入資料庫...
寫入資料錯誤
資料庫寫入失敗!
OUT
  expect_within 10 after-unplug
  expect_status 0 again
  expect_line again.out "更新成功!"
  expect_image code_data.bin
  expect_header 1000
  expect_commands <<'LOG'
erase 10 256
write 160 4097, * data reports
erase 10 1
write 160 4, 16 data reports
erase 8 1
write 128 1, 4 data reports
restart
LOG
}

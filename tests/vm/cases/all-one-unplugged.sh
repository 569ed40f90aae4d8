# --all, one of two devices unplugged during its page writes: it fails alone, the other is updated.
BUDGET=180

guest() {
  image 262144
  device_up 0
  device_up 1
  run_program cli "$GPS_CLI" --all &
  local cli=$!
  wait_for_line 60 cli.out "VM-DEVICE-1: 正在寫入資料庫..."
  pause 1  # a second into its page writes, which take 4 s or more
  gadget_unplug 1
  wait "$cli"
  device_stop 0
  device_stop 1
}

check() {
  expect_status 6
  expect_line cli.out "VM-DEVICE-0: 更新成功!"
  expect_line_like cli.out "^VM-DEVICE-0 +ok +更新成功! +[0-9.]+ s$"
  expect_line cli.out "VM-DEVICE-1: 資料庫寫入失敗!"
  expect_line_like cli.out "^VM-DEVICE-1 +failed \(6\) +資料庫寫入失敗! +[0-9.]+ s$"
  expect_no_line cli.out "VM-DEVICE-1: 更新成功!"
  expect_updated 262144 0
  expect_commands 1 <<'LOG'
erase 10 64
write 160 1025, * data reports
LOG
}

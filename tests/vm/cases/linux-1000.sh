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
  expect_output <<'OUT'
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

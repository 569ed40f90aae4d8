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
  expect_output <<'OUT'
正在清除...
正在寫入資料庫...
資料庫寫入成功!
正在寫入資料庫...
更新成功!
OUT
  expect_image code_data.bin
  expect_header 1048576
  expect_commands <<'LOG'
erase 10 256
write 160 4097, 16388 data reports
erase 8 1
write 128 1, 4 data reports
restart
LOG
  # Beside the web page's figure (web-64000): the native program on the same stack.
  figure "native CLI: 1 MiB in $(cat cli.ms) ms, $(awk -v ms="$(cat cli.ms)" 'BEGIN { printf "%.2f", ms / 16397 }') ms per output report (16397 reports, its start included)"
}

# Unplugged in the middle of the page writes: the failing stage's text, no success, bounded time.
BUDGET=120

guest() {
  image 1048576
  device_up
  run_program cli "$GPS_CLI" &
  local cli=$!
  wait_for_line 60 cli.out "正在寫入資料庫..."
  sleep 1  # a second of the 20 that the image's pages take
  gadget_unplug
  local unplugged
  unplugged=$(date +%s%N)
  wait "$cli"
  echo $(( ($(date +%s%N) - unplugged) / 1000000 )) > after-unplug.ms
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
}

# --all with two devices on two buses: both updated at once, each its own flash, a table row each.
BUDGET=150

guest() {
  image 65536
  device_up 0
  device_up 1
  cli --all
  device_stop 0
  device_stop 1
}

check() {
  expect_status 0
  local n
  for n in 0 1; do
    expect_line cli.out "VM-DEVICE-$n: 更新成功!"
    expect_line_like cli.out "^VM-DEVICE-$n +ok +更新成功! +[0-9.]+ s$"
    expect_updated 65536 "$n"
  done
}

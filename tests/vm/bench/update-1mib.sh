# Reports per second of a 1 MiB update through usbhid, hidraw, dummy_hcd and the gadget.
BUDGET=200

guest() {
  image 1048576
  device_up
  cli
  device_stop
}

check() {
  expect_status 0
  expect_image code_data.bin
  local reports ms
  reports=$(sed -n 's/^output_reports //p' dev0/summary)
  ms=$(cat cli.ms)
  figure "1 MiB update: $reports output reports in $((ms / 1000)).$(printf %03d $((ms % 1000))) s:" \
         "$((reports * 1000 / ms)) reports/s (a full-speed interrupt endpoint at 1 ms: 1000/s)"
}

# What a case's guest() can use inside the VM. Each case runs in its own
# folder on the results share ($GPS_VM_OUT/CASE, the same path on the
# host), where everything below leaves its files for the host's check().
#
# The device on bus N (0 or 1) is a USB gadget bound to dummy_udc.N, with a
# device program (gps-gadget-device) playing the device on its side, which
# keeps the flash in devN/flash.bin and the commands it took in
# devN/commands.log once it is stopped.

GADGETS=/sys/kernel/config/usb_gadget

# Vendor page 0xFF00: one 64-byte input and one 64-byte output report, no
# report identifiers, as the device describes itself.
REPORT_DESCRIPTOR='\x06\x00\xff\x09\x01\xa1\x01'\
'\x09\x02\x15\x00\x26\xff\x00\x75\x08\x95\x40\x81\x02'\
'\x09\x03\x15\x00\x26\xff\x00\x75\x08\x95\x40\x91\x02\xc0'

# Under TCG every program started costs a good part of a second on a busy
# host, so the helpers keep to the shell's own commands where they can.

note() {
  local up
  read -r up _ < /proc/uptime
  echo "[$up] $*"
}

# Milliseconds of the wall clock.
now_ms() { local us=${EPOCHREALTIME/./}; echo $((us / 1000)); }

# A pipe that this shell holds both ends of: a read from it waits for its
# whole time-out, a sleep without starting a program. A named pipe, opened
# for reading and writing (which does not block on Linux) and unlinked at once:
# a process substitution's /dev/fd node can be gone before it is opened.
NEVER_READY_PATH=$(mktemp -u "${TMPDIR:-/tmp}/gps-pause.XXXXXX")
mkfifo -m 600 "$NEVER_READY_PATH"
exec {NEVER_READY}<> "$NEVER_READY_PATH"
rm -f "$NEVER_READY_PATH"
pause() { read -rt "$1" -u "$NEVER_READY" _ || true; }  # SECONDS

# Waits until COMMAND succeeds, looking every 0.1 s, for at most SECONDS.
# For what the kernel makes without a notification that a shell can wait on
# (there is no udev in the VM).
wait_until() {  # SECONDS COMMAND...
  local deadline=$(( $(now_ms) + $1 * 1000 ))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || { note "timed out waiting for: $*"; return 1; }
    pause 0.1
  done
}

# An image of SIZE random bytes as code_data.bin.
image() {  # SIZE
  head -c "$1" /dev/urandom > code_data.bin
}

# --- the gadget -----------------------------------------------------------

# Makes the device for bus N in configfs, not yet plugged in.
gadget_add() {  # [N]
  local n=${1:-0} g=$GADGETS/gps${1:-0}
  # configfs makes strings/, configs/ and functions/ with the gadget.
  mkdir -p "$g/strings/0x409" "$g/configs/c.1" "$g/functions/hid.usb$n"
  echo 0x0416 > "$g/idVendor"
  echo 0xb500 > "$g/idProduct"
  echo 0x0100 > "$g/bcdDevice"
  echo 0x0200 > "$g/bcdUSB"
  echo "VM-DEVICE-$n" > "$g/strings/0x409/serialnumber"
  echo "GPS" > "$g/strings/0x409/manufacturer"
  echo "GPS road-safety warning device" > "$g/strings/0x409/product"
  echo 100 > "$g/configs/c.1/MaxPower"
  echo 0 > "$g/functions/hid.usb$n/protocol"
  echo 0 > "$g/functions/hid.usb$n/subclass"
  echo 64 > "$g/functions/hid.usb$n/report_length"
  printf "$REPORT_DESCRIPTOR" > "$g/functions/hid.usb$n/report_desc"
  ln -s "$g/functions/hid.usb$n" "$g/configs/c.1/"
}

# The device side's node of bus N's gadget (/dev/hidgM): it exists while
# the gadget is plugged in.
hidg_node() {  # [N]
  local n=${1:-0} major minor
  IFS=: read -r major minor < "$GADGETS/gps$n/functions/hid.usb$n/dev"
  echo "/dev/hidg$minor"
}

# Plugging in and unplugging are binding the gadget to its bus's device
# controller and unbinding it: the host side sees an arrival and a removal.
gadget_plug() { echo "dummy_udc.${1:-0}" > "$GADGETS/gps${1:-0}/UDC"; }
gadget_unplug() { echo "" > "$GADGETS/gps${1:-0}/UDC"; }

gadget_remove() {  # [N]
  local n=${1:-0} g=$GADGETS/gps${1:-0}
  [ -d "$g" ] || return 0
  [ -z "$(cat "$g/UDC")" ] || gadget_unplug "$n"
  rm -f "$g/configs/c.1/hid.usb$n"
  rmdir "$g/configs/c.1" "$g/functions/hid.usb$n" "$g/strings/0x409" "$g"
}

# The number of hidraw nodes of our vendor and product.
hidraw_count() {
  local uevent line count=0
  for uevent in /sys/class/hidraw/*/device/uevent; do
    [ -f "$uevent" ] || continue
    while read -r line; do
      [ "$line" = HID_ID=0003:00000416:0000B500 ] && count=$((count + 1))
    done < "$uevent"
  done
  echo "$count"
}
has_hidraw_count() { [ "$(hidraw_count)" -eq "$1" ]; }

# --- the device program ---------------------------------------------------

# Starts the device program for bus N. It plays the device whenever the
# gadget is plugged in, and keeps its flash across unplugging.
device_start() {  # [N]
  local n=${1:-0}
  mkdir -p "dev$n"
  "$GPS_DEVICE" "$(hidg_node "$n")" "dev$n" > "dev$n/device.log" 2>&1 &
  echo $! > "dev$n/pid"
}

# True once process PID has ended (a zombie has ended too).
ended() {  # PID
  local state
  { read -r _ _ state _ < "/proc/$1/stat"; } 2>/dev/null || return 0
  [ "$state" = Z ]
}

# Stops it; it writes devN/flash.bin and devN/commands.log on its way out,
# and its exit status to devN/status.
device_stop() {  # [N]
  local n=${1:-0} pid status=0
  pid=$(cat "dev$n/pid")
  kill -TERM "$pid"
  wait_until 60 ended "$pid"
  wait "$pid" || status=$?
  echo "$status" > "dev$n/status"
  rm "dev$n/pid"
}

# The whole device on bus N: made, its program running, plugged in, and its
# hidraw node there on the host side.
device_up() {  # [N]
  local n=${1:-0}
  gadget_add "$n"
  device_start "$n"
  gadget_plug "$n"
  wait_until 30 has_hidraw_count "$((n + 1))"
  note "device $n up: $(hidraw_count) hidraw node(s)"
}

# --- the programs under test ----------------------------------------------

# Runs a program and keeps what it did as NAME.out, NAME.err, NAME.status
# and NAME.ms (its run time in milliseconds).
run_program() {  # NAME COMMAND...
  local name=$1 start status=0 ms
  shift
  note "run: $*"
  start=$(now_ms)
  "$@" > "$name.out" 2> "$name.err" || status=$?
  ms=$(( $(now_ms) - start ))
  echo "$status" > "$name.status"
  echo "$ms" > "$name.ms"
  note "status $status after $ms ms"
}

# The Linux command-line program, in the case's folder.
cli() { run_program cli "$GPS_CLI" "$@"; }

# The same as a user without any rights to the device.
cli_as_nobody() {
  run_program cli setpriv --reuid=65534 --regid=65534 --clear-groups "$GPS_CLI" "$@"
}

# Waits until FILE holds a line TEXT.
has_line() {  # FILE TEXT
  local line
  [ -f "$1" ] || return 1  # the program has not made it yet
  while read -r line; do [ "$line" = "$2" ] && return 0; done < "$1"
  return 1
}
wait_for_line() {  # SECONDS FILE TEXT
  wait_until "$1" has_line "$2" "$3"
}

# The Windows command-line program under Wine, through winebus and hidraw.
# Wine runs as the owner of its prefix (it refuses any other), who is given
# the device's nodes as udev's uaccess would give them to a desktop user.
# The program runs from /tmp: Wine loaded it from the 9p share with a page
# of its code missing (zeros where main() was), and it crashed.
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || true)
wine_user() { stat -c %u "$GPS_WINEPREFIX"; }
cli_exe() {
  local exe
  exe=/tmp/$(basename "$GPS_CLI_EXE")
  cp "$GPS_CLI_EXE" "$exe"
  chmod 0666 /dev/hidraw*
  touch /tmp/wine-started
  run_program cli setpriv --reuid="$(wine_user)" --regid="$(stat -c %g "$GPS_WINEPREFIX")" \
    --clear-groups env HOME=/tmp WINEPREFIX="$GPS_WINEPREFIX" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" "$exe" "$@"
}

# --- between cases ----------------------------------------------------------

# Leaves the VM as the next case expects it: no device program, no gadget,
# no Wine server.
case_cleanup() {
  local pidfile
  for pidfile in "$GPS_VM_OUT"/*/dev*/pid; do
    [ -f "$pidfile" ] && kill -KILL "$(cat "$pidfile")" 2>/dev/null
    rm -f "$pidfile"
  done
  if [ -f /tmp/wine-started ]; then
    rm /tmp/wine-started
    setpriv --reuid="$(wine_user)" --regid="$(stat -c %g "$GPS_WINEPREFIX")" --clear-groups \
      env WINEPREFIX="$GPS_WINEPREFIX" "$(dirname "$WINE")/wineserver" -k 2>/dev/null
  fi
  local g
  for g in "$GADGETS"/gps*; do [ -d "$g" ] && gadget_remove "${g##*/gps}"; done
  wait_until 10 has_hidraw_count 0
}

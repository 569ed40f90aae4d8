# What the VM's web cases (tests/vm/cases/web-*.sh) use inside the VM, beside
# tests/vm/lib/guest.sh.

# Runs the web page in headless Chromium as run_program NAME does, on the
# case's FILE (vm_page.py's options before it), with the device granted to
# the page by the browser's managed policy, as an administrator would grant
# it: Chromium then opens it without asking. The guest runs Chromium as root
# (the device's hidraw node is root's; no udev gives it to a user here).
web_page() {  # NAME [OPTION]... FILE
  local name=$1
  shift
  ip link set lo up
  mkdir -p /etc/chromium/policies/managed
  cat > /etc/chromium/policies/managed/gps-webhid.json <<'POLICY'
{"WebHidAllowDevicesForUrls": [{"devices": [{"vendor_id": 1046, "product_id": 46336}],
                                "urls": ["http://localhost:8000"]}]}
POLICY
  mkdir -p /tmp/web-home
  run_program "$name" env HOME=/tmp/web-home GPS_WEB_DIR="$GPS_SOURCE/build/web" \
    python3 "$GPS_SOURCE/web/tests/vm_page.py" --port 8000 --browser-log "$name.chromium" "$@"
}

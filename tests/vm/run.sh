#!/usr/bin/env bash
# Tests through the real Linux USB HID stack: boots Debian's kernel in QEMU on
# this machine's own root filesystem, makes the device there as a USB gadget
# (dummy_hcd + usb_f_hid, vendor 0416, product b500), runs the cases against
# it with the Linux and the Windows command-line programs, powers off, and
# checks each case's results here on the host.
#
#   tests/vm/run.sh [CASE]...          the cases of tests/vm/cases (default:
#                                      all of them) in one boot
#   tests/vm/run.sh --bench [CASE]...  the cases of tests/vm/bench, with the
#                                      release build
#   tests/vm/run.sh --list             the cases and what each one proves
#
# Needs the dev build (the Linux CLI and the gadget's device program) and,
# for the Wine cases, the windows build. Everything else (packages, the
# kernel, the initramfs, a Wine prefix) is prepared here and kept in
# build/vm; each case leaves its files in build/vm/out/CASE.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/vm/prepare.sh

suite=cases
linux_build=${GPS_VM_LINUX_BUILD:-$PWD/build/dev}
case "${1:-}" in
  --bench) suite=bench; linux_build=${GPS_VM_LINUX_BUILD:-$PWD/build/release}; shift ;;
  --list)
    for f in tests/vm/cases/*.sh tests/vm/bench/*.sh; do
      printf '%-28s %s\n' "$(basename "$f" .sh)" "$(sed -n '1s/^# //p' "$f")"
    done
    exit 0 ;;
  -*) sed -n '2,17p' "$0"; exit 2 ;;
esac

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for f in tests/vm/$suite/*.sh; do names+=("$(basename "$f" .sh)"); done
fi

# Kernel command-line arguments cannot hold spaces, and the guest finds
# everything at the host's own paths.
case "$PWD" in *[[:space:]]*) echo "tests/vm: the source path must not hold spaces" >&2; exit 2 ;; esac

vm=$PWD/build/vm
out=$vm/out
cases=()
budget=0
for name in "${names[@]}"; do
  file=tests/vm/$suite/$name.sh
  [ -f "$file" ] || { echo "tests/vm: no case $name in tests/vm/$suite" >&2; exit 2; }
  cases+=("$PWD/$file")
  budget=$((budget + $(case_budget "$file")))
done

vm_packages
kernel_dir=$(vm_kernel "$vm/kernel")
vm_initramfs "$kernel_dir" "$vm/initramfs.cpio.gz"
needs_wine=false
for file in "${cases[@]}"; do grep -q '^NEEDS_WINE=1' "$file" && needs_wine=true; done
wineprefix=""
if $needs_wine; then wineprefix=$(vm_wineprefix "$vm/wineprefix"); fi

rm -rf "$out"
mkdir -p "$out"
printf '%s\n' "${cases[@]}" > "$out/cases"
cat > "$out/env" <<EOF
GPS_SOURCE=$PWD
GPS_VM_OUT=$out
GPS_KERNEL_MODULES=$kernel_dir/lib/modules
GPS_CLI=$linux_build/ui/cli/gps-update-cli
GPS_DEVICE=$linux_build/tests/vm/gps-gadget-device
GPS_CLI_EXE=$PWD/build/windows/ui/cli/gps-update-cli.exe
GPS_WINEPREFIX=$wineprefix
EOF
for f in "$linux_build/ui/cli/gps-update-cli" "$linux_build/tests/vm/gps-gadget-device"; do
  [ -x "$f" ] || { echo "tests/vm: $f is missing: build it first" >&2; exit 2; }
done

# Boot, the modules and the gadget take 20-40 s under TCG on a loaded
# machine; the rest is the cases' own budgets. A VM that outlives the sum is
# hung, and is killed.
limit=$((VM_BOOT_BUDGET + budget))
echo "== tests/vm: ${#cases[@]} case(s) in one boot, at most ${limit} s"
start=$SECONDS
load_before=$(cut -d' ' -f1 /proc/loadavg)
status=0
vm_boot "$kernel_dir" "$vm/initramfs.cpio.gz" "$out" "$limit" || status=$?
# Under TCG every figure depends on what else the host runs meanwhile.
echo "== tests/vm: the VM ran $((SECONDS - start)) s (QEMU TCG, 2 virtual CPUs; host:" \
     "$(nproc) cores, load average $load_before before, $(cut -d' ' -f1 /proc/loadavg) after)"
if [ "$status" -eq 124 ]; then
  echo "tests/vm: the VM did not power off within ${limit} s and was killed" >&2
fi

source tests/vm/lib/check.sh
check_cases "$out" "${cases[@]}"

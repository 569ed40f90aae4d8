# What the test VM needs on the host, prepared once and kept in build/vm.
# Sourced by tests/vm/run.sh from the source folder.

# Boot, the kernel modules and the first gadget under TCG on a loaded
# machine; what the cases take comes on top (see case_budget).
VM_BOOT_BUDGET=${VM_BOOT_BUDGET:-180}

# Modules the initramfs loads to reach the host's root over virtio-9p, and
# those the guest loads from the unpacked kernel tree once it runs there.
VM_BOOT_MODULES=(virtio_pci 9pnet_virtio 9p overlay)
VM_GUEST_MODULES=(dummy_hcd libcomposite usb_f_hid usbhid hid-generic configfs)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

vm_packages() {
  local p missing=()
  for p in qemu-system-x86 busybox-static kmod cpio; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    as_root apt-get update -q
    # Without what they recommend: QEMU's would bring audio, speech and
    # graphics stacks that a VM without a screen or sound never uses.
    as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# The seconds a case may take inside the VM: its BUDGET line, else 60.
case_budget() {  # CASE_FILE
  local b
  b=$(sed -n 's/^BUDGET=\([0-9][0-9]*\).*/\1/p' "$1" | head -1)
  echo "${b:-60}"
}

# The modules that `modprobe NAME` would load from the tree at ROOT, in the
# order it would load them.
module_closure() {  # ROOT VERSION NAME...
  local root=$1 version=$2 name
  shift 2
  for name in "$@"; do
    modprobe -d "$root" -S "$version" --show-depends "$name" | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++'
}

# Debian's current 6.1 kernel, from its package: downloaded and unpacked
# here, never installed. Only the image and the modules the VM uses are
# kept (about 10 MB of the package's 400). Prints the kept folder.
vm_kernel() {  # CACHE_DIR
  local cache=$1 package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
            awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  if [ -z "$package" ]; then
    # No package lists: a kernel kept from an earlier run still serves.
    package=$(ls -1 "$cache" 2>/dev/null | sort -V | tail -1)
    [ -n "$package" ] && [ -f "$cache/$package/.complete" ] ||
      { echo "tests/vm: apt knows no linux-image-amd64 (run apt-get update)" >&2; return 1; }
  fi
  local dir=$cache/$package
  if [ ! -f "$dir/.complete" ]; then
    echo "== fetching the kernel $package" >&2
    rm -rf "$dir" && mkdir -p "$dir"
    local scratch
    scratch=$(mktemp -d "$cache/unpack.XXXXXX")
    # apt drops to its sandbox user to download, who may not write here.
    (cd "$scratch" && apt-get download -q -o APT::Sandbox::User="$(id -un)" "$package" >&2)
    dpkg-deb -x "$scratch"/*.deb "$scratch/root"
    local version
    version=$(ls "$scratch/root/lib/modules")
    cp "$scratch/root/boot/vmlinuz-$version" "$dir/vmlinuz"
    local tree=$dir/lib/modules/$version module
    mkdir -p "$tree"
    cp "$scratch/root/lib/modules/$version"/modules.{order,builtin,builtin.modinfo} "$tree/"
    depmod -b "$scratch/root" "$version"
    for module in $(module_closure "$scratch/root" "$version" \
                    "${VM_BOOT_MODULES[@]}" "${VM_GUEST_MODULES[@]}"); do
      mkdir -p "$(dirname "$dir/${module#"$scratch"/root/}")"
      cp "$module" "$dir/${module#"$scratch"/root/}"
    done
    depmod -b "$dir" "$version"
    echo "$version" > "$dir/version"
    rm -rf "$scratch"
    touch "$dir/.complete"
  fi
  echo "$dir"
}

# A busybox initramfs whose /init (tests/vm/init) loads the boot modules,
# mounts the host's root read-only with a tmpfs over it, and hands over.
vm_initramfs() {  # KERNEL_DIR OUTPUT
  local kernel=$1 output=$2 version root module
  version=$(cat "$kernel/version")
  root=$(mktemp -d)
  mkdir -p "$root"/{bin,proc,sys,dev,modules}
  cp "$(command -v busybox)" "$root/bin/busybox"
  cp tests/vm/init "$root/init"
  for module in $(module_closure "$kernel" "$version" "${VM_BOOT_MODULES[@]}"); do
    cp "$module" "$root/modules/"
    basename "$module" >> "$root/modules/order"
  done
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$output.new"
  mv "$output.new" "$output"
  rm -rf "$root"
}

# A Wine prefix for the VM's Wine cases, made here where Wine starts in
# seconds rather than minutes. Wine 8 hands hidraw devices to Windows
# programs only with SDL off in winebus. The guest writes into it through
# its tmpfs overlay, so it stays as made. Prints its folder.
vm_wineprefix() {  # DIR
  local prefix=$1 wine=wine64 wineserver=wineserver stamp
  if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver; fi
  stamp="$("$wine" --version) winebus-sdl-off"
  if [ "$(cat "$prefix/.gps-stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "== creating the Wine prefix $prefix" >&2
    rm -rf "$prefix" && mkdir -p "$prefix"
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix WINEDEBUG=-all "$wine" reg add \
      'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1
    WINEPREFIX=$prefix "$wineserver" -w
    echo "$stamp" > "$prefix/.gps-stamp"
  fi
  echo "$prefix"
}

# Boots the VM and returns when it has powered off, or kills it after
# LIMIT seconds (status 124). The guest's console (the cases' progress and
# the kernel's critical messages) goes to the terminal and to
# OUT/console.log; the kernel's whole log to OUT/dmesg.log.
vm_boot() {  # KERNEL_DIR INITRAMFS OUT LIMIT
  local kernel=$1 initramfs=$2 out=$3 limit=$4
  # No KVM here: TCG. Wine's processes crash under TCG with SMAP on.
  timeout -k 10 "$limit" qemu-system-x86_64 \
    -nodefaults -no-user-config -display none -no-reboot \
    -machine q35 -cpu max,smap=off -smp 2 -m 1536 \
    -kernel "$kernel/vmlinuz" -initrd "$initramfs" \
    -append "console=ttyS0 loglevel=2 panic=-1 GPS_VM_OUT=$out GPS_VM_GUEST=$PWD/tests/vm/guest.sh" \
    -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=root,mount_tag=hostroot \
    -fsdev local,id=out,path="$out",security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=out,mount_tag=out \
    -serial stdio </dev/null | tee "$out/console.log"
  return "${PIPESTATUS[0]}"
}

#!/usr/bin/env bash
# Checks the Debian package in dist/ as a user's system takes it:
#   - lintian finds no error and no warning (a warning kept is named in
#     KEPT_WARNINGS below, with its reason in the README);
#   - the maintainer scripts tell udev to read its rules again and replay the
#     hidraw events where udev runs, do nothing where it does not, and never
#     fail the installation;
#   - `apt-get install` installs it with its dependencies; both installed
#     programs answer --version with the package's version; the udev rule,
#     the menu entry, the icons, the AppStream metadata, the manual pages
#     and the Debian documents are where they belong, and the menu entry and
#     the metadata validate; `apt-get remove --purge` leaves none of its
#     files or folders behind.
#
#   packaging/check_deb.sh      ./dev test runs it after the other tests
#
# What needs root runs through sudo when not root, under a lock, so that two
# checks on one machine take turns with the one package name.
set -euo pipefail
cd "$(dirname "$0")/.."

KEPT_WARNINGS=()

fail() { echo "FAIL: $*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

find_deb() {
  local debs=(dist/gps-update_*_amd64.deb)
  [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] ||
    fail "expected one dist/gps-update_*_amd64.deb (./dev dist makes it)"
  deb=$PWD/${debs[0]}
  version=$(dpkg-deb -f "$deb" Version)
}

run_lintian() {
  echo "== lintian $(basename "$deb")"
  local args=(--fail-on error,warning)
  [ ${#KEPT_WARNINGS[@]} -gt 0 ] && args+=(--suppress-tags "$(IFS=,; echo "${KEPT_WARNINGS[*]}")")
  local out status=0
  out=$(lintian "${args[@]}" "$deb" 2>&1) || status=$?
  grep -v '^running with root privileges' <<<"$out" || true
  [ $status -eq 0 ] || fail "lintian found errors or warnings"
}

# Each case runs one maintainer script in a mount namespace of its own, with
# an empty /run (plus udev's control socket when udev "runs") and an udevadm
# that records its calls and ends with the given status.
check_maintainer_scripts() {
  echo "== maintainer scripts, with and without udev"
  local work
  work=$(mktemp -d)
  dpkg-deb -e "$deb" "$work/control"
  mkdir "$work/bin"
  cat > "$work/bin/udevadm" <<'EOF'
#!/bin/sh
echo "$*" >> "$UDEVADM_LOG"
exit "$UDEVADM_STATUS"
EOF
  chmod 755 "$work/bin/udevadm"
  if ! unshare --mount true 2>/dev/null; then
    echo "SKIPPED: no mount namespaces here"
    rm -rf "$work"
    return
  fi
  local reload_and_trigger=$'control --reload-rules\ntrigger --subsystem-match=hidraw --action=change'
  # script, its argument, udev running, udevadm's status, the calls expected
  local cases=(
    "postinst configure yes 0 $reload_and_trigger"
    "postinst configure yes 1 $reload_and_trigger"
    "postinst configure no 0 "
    "postinst abort-upgrade yes 0 "
    "postrm remove yes 0 $reload_and_trigger"
    "postrm remove no 0 "
    "postrm purge yes 0 "
  )
  local c script arg udev status expected calls
  for c in "${cases[@]}"; do
    read -r script arg udev status _ <<<"${c%%$'\n'*}"
    expected=${c#"$script $arg $udev $status "}
    : > "$work/calls"
    UDEVADM_LOG=$work/calls UDEVADM_STATUS=$status PATH=$work/bin:$PATH \
      unshare --mount --propagation private sh -c '
        mount -t tmpfs tmpfs /run
        if [ "$1" = yes ]; then
          mkdir /run/udev
          perl -MIO::Socket::UNIX -e \
            "IO::Socket::UNIX->new(Local => q{/run/udev/control}, Listen => 1) or die"
        fi
        exec "$2" "$3"' sh "$udev" "$work/control/$script" "$arg" ||
      fail "$script $arg (udev running: $udev, udevadm status $status) failed"
    calls=$(cat "$work/calls")
    [ "$calls" = "$expected" ] ||
      fail "$script $arg (udev running: $udev): udevadm was called with '$calls', not '$expected'"
  done
  rm -rf "$work"
}

# The package's files and folders; `new_dirs` only the folders that were not
# there before it was installed.
list_contents() {
  files=() new_dirs=()
  local mode path
  while read -r mode path; do
    path=${path#.}
    path=${path%/}
    [ -n "$path" ] || continue
    if [ "${mode:0:1}" = d ]; then
      [ -e "$path" ] || new_dirs+=("$path")
    else
      files+=("$path")
    fi
  done < <(dpkg-deb -c "$deb" | awk '{print $1, $6}')
}

png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }

APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)

check_install() {
  if dpkg-query -W -f='${Status}' gps-update 2>/dev/null | grep -q installed; then
    fail "gps-update is installed on this machine; the check installs and purges it:" \
         "remove it first (apt-get remove --purge gps-update)"
  fi
  list_contents

  echo "== apt-get install $(basename "$deb")"
  purged=no
  trap '[ $purged = yes ] || "${APT[@]}" remove --purge gps-update >/dev/null 2>&1' EXIT
  local log
  log=$(mktemp)
  "${APT[@]}" install "$deb" >"$log" 2>&1 || { cat "$log"; fail "apt-get install failed"; }
  dpkg-query -W -f='${Status} ${Version}\n' gps-update | grep -qx "install ok installed $version" ||
    fail "gps-update $version is not installed"

  echo "== the installed programs and files"
  local out
  out=$(/usr/bin/gps-update-cli --version)
  [ "$out" = "gps-update-cli $version" ] || fail "gps-update-cli --version said '$out'"
  # Without a display, as over ssh.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/gps-update --version)
  [ "$out" = "gps-update $version" ] || fail "gps-update --version said '$out'"

  local metainfo
  metainfo=$(printf '%s\n' "${files[@]}" | grep '^/usr/share/metainfo/.*\.metainfo\.xml$') ||
    fail "no AppStream metadata in /usr/share/metainfo"
  local path size
  for path in /usr/bin/gps-update /usr/bin/gps-update-cli \
              /usr/lib/udev/rules.d/70-gps-update.rules \
              /usr/share/applications/gps-update.desktop \
              /usr/share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/gps-update.png \
              "$metainfo" \
              /usr/share/man/man1/gps-update.1.gz /usr/share/man/man1/gps-update-cli.1.gz \
              /usr/share/doc/gps-update/copyright /usr/share/doc/gps-update/changelog.gz; do
    [ -f "$path" ] || fail "not installed: $path"
  done
  for size in 48x48 64x64 128x128 256x256; do
    path=/usr/share/icons/hicolor/$size/apps/gps-update.png
    [ "$(png_size "$path")" = "$size" ] || fail "$path is $(png_size "$path") pixels"
  done
  # The metadata's file is named after its ID, and it launches the menu entry.
  grep -q "<id>$(basename "$metainfo" .metainfo.xml)</id>" "$metainfo" ||
    fail "$metainfo is not named after its ID"
  grep -q '<launchable type="desktop-id">gps-update.desktop</launchable>' "$metainfo" ||
    fail "$metainfo does not launch gps-update.desktop"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "$metainfo lacks the release $version"
  zcat /usr/share/doc/gps-update/changelog.gz | head -1 | grep -q "^gps-update ($version) " ||
    fail "the changelog's latest entry is not $version"

  echo "== appstreamcli validate --no-net, desktop-file-validate"
  appstreamcli validate --no-net "$metainfo"
  desktop-file-validate /usr/share/applications/gps-update.desktop

  echo "== apt-get remove --purge gps-update"
  "${APT[@]}" remove --purge gps-update >"$log" 2>&1 || { cat "$log"; fail "apt-get remove failed"; }
  purged=yes
  rm -f "$log"
  if dpkg-query -W -f='${Status}' gps-update 2>/dev/null | grep -q -e installed -e config-files; then
    fail "dpkg still knows gps-update after the purge"
  fi
  for path in "${files[@]}" "${new_dirs[@]}"; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "left behind: $path"
  done
}

find_deb
if [ "${1:-}" = --as-root ]; then
  check_maintainer_scripts
  check_install
  echo "== the Debian package passed"
  exit 0
fi
run_lintian
lock=/run/lock/gps-update-package-check.lock
[ -d /run/lock ] || lock=/tmp/gps-update-package-check.lock
as_root flock -w 900 "$lock" "$PWD/packaging/check_deb.sh" --as-root

# What a case's check() can use on the host, in the case's folder, after the
# VM has powered off. Each expect_* adds a failure and goes on, so that one
# run names every fault of a case.

# The flash layout the update writes (protocol/flash_layout.h).
HEADER_ADDRESS=$((0x8000))
DATABASE_ADDRESS=$((0xA000))

failures=()
fail() { failures+=("$*"); }

# A measured figure, printed with the case's verdict.
figure() { echo "$*" >> figures; }

# The exit status of the program run as NAME (cli by default).
expect_status() {  # STATUS [NAME]
  local got
  got=$(cat "${2:-cli}.status" 2>/dev/null || echo none)
  [ "$got" = "$1" ] || fail "${2:-cli}: exit status $got, expected $1"
}

# The whole standard output of NAME: the lines on standard input. The
# Windows programs end their lines with CR LF; the CRs are not compared.
expect_output() {  # [NAME]
  local name=${1:-cli}
  diff -u --label expected --label "$name.out" - <(tr -d '\r' < "$name.out") \
    > "$name.out.diff" || fail "$name: standard output differs: $(cat "$name.out.diff")"
}

# FILE has a line TEXT, one that matches a pattern, or no line TEXT.
expect_line() {  # FILE TEXT
  grep -qxF "$2" "$1" || fail "$1: no line \"$2\""
}
expect_line_like() {  # FILE EXTENDED_REGEX
  grep -qE "$2" "$1" || fail "$1: no line like /$2/"
}
expect_no_line() {  # FILE TEXT
  ! grep -qxF "$2" "$1" || fail "$1: the line \"$2\" should not be there"
}

# What the device on bus N took, one command a line (devN/commands.log),
# against the lines on standard input; a * in them stands for any text.
expect_commands() {  # [N]
  local log=dev${1:-0}/commands.log expected got i
  [ -f "$log" ] || { fail "$log is missing (the device program did not end cleanly)"; return; }
  mapfile -t expected
  mapfile -t got < "$log"
  local same=$(( ${#expected[@]} == ${#got[@]} ))
  for ((i = 0; same && i < ${#got[@]}; i++)); do
    # shellcheck disable=SC2053  # the expected line is a pattern
    [[ ${got[i]} == ${expected[i]} ]] || same=0
  done
  [ "$same" = 1 ] || fail "the device took other commands than expected:" \
    "$(printf '\n          expected: %s' "${expected[@]}")" \
    "$(printf '\n          took:     %s' "${got[@]}")"
}

# The device on bus N took no output report at all.
expect_nothing_sent() {  # [N]
  local summary=dev${1:-0}/summary
  grep -qx 'output_reports 0' "$summary" 2>/dev/null ||
    fail "the device took output reports: $(head -1 "$summary" 2>/dev/null || echo "no $summary")"
}

# Compares LENGTH bytes of the device's flash from ADDRESS with FILE from
# its start.
expect_flash_bytes() {  # N ADDRESS LENGTH FILE WHAT
  local flash=dev$1/flash.bin
  [ -f "$flash" ] || { fail "$flash is missing (the device program did not end cleanly)"; return; }
  cmp -s -n "$3" -i "$2:0" "$flash" "$4" ||
    fail "$5 differs: $(cmp -n "$3" -i "$2:0" "$flash" "$4" 2>&1 | head -1)"
}

# The image is in the flash of device N from DATABASE_ADDRESS, followed by
# the zeros the update pads its last page with.
expect_image() {  # IMAGE [N]
  local length pages padded
  length=$(stat -c %s "$1")
  pages=$((length / 256 + 1))
  padded=$(mktemp)
  { cat "$1"; head -c $((pages * 256 - length)) /dev/zero; } > "$padded"
  expect_flash_bytes "${2:-0}" "$DATABASE_ADDRESS" $((pages * 256)) "$padded" \
    "the image at 0x$(printf %x "$DATABASE_ADDRESS")"
  rm -f "$padded"
}

# The header page at HEADER_ADDRESS for an image of LENGTH bytes: the eight
# little-endian words, then zeros.
expect_header() {  # LENGTH [N]
  local expected
  expected=$(mktemp)
  le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"
           printf "\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
  { printf '_IMG'; le32 32; le32 $((0x00130000)); le32 $((0x4000A000)); le32 $((0x4000A000))
    le32 "$1"; le32 $((0x00100001)); le32 0; head -c 224 /dev/zero; } > "$expected"
  expect_flash_bytes "${2:-0}" "$HEADER_ADDRESS" 256 "$expected" "the header page"
  rm -f "$expected"
}

# The texts of a whole update that succeeded, one a line, as every program
# prints them on its standard output.
UPDATE_TEXTS='正在清除...
正在寫入資料庫...
資料庫寫入成功!
正在寫入資料庫...
更新成功!'

# The commands a whole update of LENGTH bytes sends, one a line as the
# device logs them: the erase of the sectors the image covers, the page
# write (one page more than the image fills: the last one carries the zero
# tail), the header's sector and page, the restart.
whole_update_commands() {  # LENGTH
  local sectors=$((($1 + 4095) / 4096)) pages=$(($1 / 256 + 1))
  printf '%s\n' "erase 10 $sectors" "write 160 $pages, $((pages * 4)) data reports" \
    "erase 8 1" "write 128 1, 4 data reports" "restart"
}

# Device N holds code_data.bin (LENGTH bytes) and its header, and took the
# commands of one whole update and nothing else.
expect_updated() {  # LENGTH [N]
  expect_image code_data.bin "${2:-0}"
  expect_header "$1" "${2:-0}"
  expect_commands "${2:-0}" < <(whole_update_commands "$1")
}

# NAME ran for less than SECONDS.
expect_within() {  # SECONDS [NAME]
  local ms
  ms=$(cat "${2:-cli}.ms" 2>/dev/null || echo 999999999)
  [ "$ms" -lt $(($1 * 1000)) ] || fail "${2:-cli}: took $ms ms, more than $1 s"
}

# Runs each case's check() in its folder and prints a verdict per case.
# Returns non-zero when a case failed or did not run.
check_cases() {  # OUT CASE_FILE...
  local out=$1 file name dir status result=0
  shift
  echo "== tests/vm: results"
  for file in "$@"; do
    name=$(basename "$file" .sh)
    dir=$out/$name
    failures=()
    rm -f "$dir/figures"
    status=$(cat "$dir/guest.status" 2>/dev/null || echo "")
    if [ -z "$status" ]; then
      fail "it did not run to its end in the VM"
    elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
      fail "its part in the VM ran out of time"
    elif [ "$status" != 0 ]; then
      fail "its part in the VM failed with status $status"
    fi
    if [ "$status" = 0 ]; then
      # shellcheck disable=SC1090
      (cd "$dir" && source "$file" && check
       printf '%s\n' "${failures[@]}" > "$dir/failures")
      mapfile -t failures < <(grep -v '^$' "$dir/failures")
    fi
    if [ ${#failures[@]} -eq 0 ]; then
      printf 'PASS  %-28s %6s ms\n' "$name" "$(cat "$dir/guest.ms")"
      [ -f "$dir/figures" ] && sed 's/^/        /' "$dir/figures"
    else
      result=1
      printf 'FAIL  %s\n' "$name"
      printf '        %s\n' "${failures[@]}"
      [ -f "$dir/guest.log" ] && sed 's/^/        | /' "$dir/guest.log" | tail -20
    fi
  done
  return $result
}

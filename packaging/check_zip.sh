#!/usr/bin/env bash
# Checks the release zip as a user gets it, under Wine:
#   - it holds Update.exe, gps-update-cli.exe, 使用說明.txt, the licence
#     LICENSE.txt and THIRD-PARTY-NOTICES.txt, the Chinese name marked as
#     UTF-8 so that Windows shows it right;
#   - unpacked into a folder with a Chinese name (and a space), the
#     instructions are UTF-8 with a byte order mark and CRLF line ends and
#     name this version, gps-update-cli.exe answers --version there, and the
#     dialog driver starts the unpacked Update.exe: its dialog shows with its
#     status line, and the About box shows the version.
#
#   tests/wine/run.sh --zip dist/gps-update-<version>-win64.zip
#
# Runs inside run.sh's Wine session (its prefix, display and WINE), in a
# UTF-8 locale, in which Wine turns the Chinese names into Windows ones.
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(realpath "$1")
build=$PWD/build/windows
dir="$build/zip-check/道路安全 更新"
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(basename "$zip" -win64.zip)
version=${version#gps-update-}
echo "== the zip $(basename "$zip"), unpacked into $dir"
names=$(unzip -Z1 "$zip" | sort)
[ "$names" = "$(printf '%s\n' Update.exe gps-update-cli.exe 使用說明.txt LICENSE.txt \
                 THIRD-PARTY-NOTICES.txt | sort)" ] ||
  fail "the zip holds: $names"
# Windows shows a name that is not ASCII right only when the zip marks it as
# UTF-8 (general purpose flag bit 11); otherwise it reads the name in the
# system's code page. Read from the zip's central directory.
unmarked=$(perl - "$zip" <<'PERL'
local $/;
open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!\n";
my $d = <$f>;
my $end = rindex($d, "PK\x05\x06");
die "no end of central directory\n" if $end < 0;
my ($count, $at) = unpack("x10 v x4 V", substr($d, $end, 22));
for (1 .. $count) {
  my ($sig, $flags, $n, $x, $c) = unpack("V x4 v x18 v v v", substr($d, $at, 46));
  die "bad central directory\n" unless $sig == 0x02014b50;
  my $name = substr($d, $at + 46, $n);
  print "$name\n" if $name =~ /[\x80-\xff]/ && !($flags & 0x800);
  $at += 46 + $n + $x + $c;
}
PERL
)
[ -z "$unmarked" ] || fail "not marked as UTF-8 in the zip: $unmarked"

rm -rf "$build/zip-check"
mkdir -p "$dir"
unzip -q "$zip" -d "$dir"

# The instructions: UTF-8 with a byte order mark, CRLF line ends, this version.
readme=$dir/使用說明.txt
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] &&
  [ "$(grep -c $'\r$' "$readme")" = "$(wc -l < "$readme")" ] &&
  grep -q "使用說明" "$readme" && grep -q "$version" "$readme" ||
  fail "$readme is not the instructions for $version in UTF-8 with CRLF"

grep -q "MIT License" "$dir/LICENSE.txt" ||
  fail "LICENSE.txt is not the MIT licence"
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$dir/THIRD-PARTY-NOTICES.txt" &&
  grep -qi "winpthreads" "$dir/THIRD-PARTY-NOTICES.txt" ||
  fail "THIRD-PARTY-NOTICES.txt lacks the notices of libstdc++ or winpthreads"

out=$(cd "$dir" && "$WINE" gps-update-cli.exe --version | tr -d '\r')
[ "$out" = "gps-update-cli $version" ] ||
  fail "the unpacked gps-update-cli.exe --version said '$out'"

# The dialog tests that need Update.exe alone, on the unpacked one.
GPS_PROGRAM_DIR="Z:$(echo "$dir" | tr / '\\')" "$WINE" "$build/ui/win32/update_dialog_tests.exe" \
  --gtest_filter='DialogTest.WithoutADevice*:DialogTest.AboutEntry*' \
  --gtest_brief=1
rm -rf "$build/zip-check"
echo "== the zip passed"

// The command line of gps-update-cli: what the parser makes of it, and the
// help with its table of exit statuses.
#include "ui/cli/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace gps {
namespace {

// What the parser made of a command line, in a few words.
std::string Summary(const CliOptions& o) {
  if (!o.error.empty()) return "error";
  std::string s = o.file.string();
  if (o.simulate) s += " simulate=" + std::to_string(o.simulatedDevices);
  if (o.list) s += " list";
  if (o.trace) s += " trace";
  if (o.wait) s += " wait=" + std::to_string(o.wait->count()) + "ms";
  if (o.all) s += " all";
  if (o.device) s += " device=" + *o.device;
  if (o.station) s += " station";
  if (o.record) s += " record=" + o.record->string();
  return s;
}

TEST(CliOptions, Parsing) {
  struct Case {
    std::vector<std::string> args;
    std::string parsed;
  };
  const Case cases[] = {
      {{}, "code_data.bin"},
      {{"image.bin"}, "image.bin"},
      {{"--simulate", "image.bin"}, "image.bin simulate=1"},
      {{"--simulate=16", "--all"}, "code_data.bin simulate=16 all"},
      {{"--simulate=0"}, "error"},
      {{"--simulate=17"}, "error"},
      {{"--simulate="}, "error"},
      {{"--", "-odd-name.bin"}, "-odd-name.bin"},
      {{"--list", "--trace"}, "code_data.bin list trace"},
      {{"--wait"}, "code_data.bin wait=30000ms"},
      {{"--wait=7", "a.bin"}, "a.bin wait=7000ms"},
      {{"--wait=86400"}, "code_data.bin wait=86400000ms"},
      // The number belongs to --wait only after '='; a FILE of that name
      // goes after --.
      {{"--wait", "5"}, "error"},
      {{"--wait", "--", "5"}, "5 wait=30000ms"},
      {{"--wait", "5.bin"}, "5.bin wait=30000ms"},
      {{""}, "error"},  // an unset shell variable names no file
      {{"a.bin", "b.bin"}, "error"},
      {{"--frobnicate"}, "error"},
      {{"--wait=0"}, "error"},
      {{"--wait=86401"}, "error"},
      {{"--wait="}, "error"},
      {{"--wait=5s"}, "error"},
      {{"--wait=-5"}, "error"},
      {{"--all", "a.bin"}, "a.bin all"},
      {{"--device", "SN 1", "a.bin"}, "a.bin device=SN 1"},
      {{"--device=/dev/hidraw3"}, "code_data.bin device=/dev/hidraw3"},
      {{"--device", "--all"}, "code_data.bin device=--all"},  // an ID may look like an option
      {{"--device"}, "error"},
      {{"--device="}, "error"},
      {{"--all", "--device", "X"}, "error"},
      {{"--list", "--all"}, "error"},
      {{"--list", "a.bin"}, "error"},
      {{"--list", "--wait"}, "error"},
      {{"--station", "a.bin"}, "a.bin station"},
      {{"--station", "--record", "r.jsonl"}, "code_data.bin station record=r.jsonl"},
      {{"--record=r.jsonl", "--all"}, "code_data.bin all record=r.jsonl"},
      {{"--record"}, "error"},
      {{"--record="}, "error"},
      {{"--station", "--wait"}, "error"},  // a station waits for ever by itself
      {{"--station", "--device", "X"}, "error"},
      {{"--list", "--record", "r.jsonl"}, "error"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(Summary(ParseCliOptions(c.args)), c.parsed) << line;
  }
}

TEST(CliOptions, HelpCarriesEveryExitStatusWithItsText) {
  const std::string help = HelpText();
  int expected = 0;
  for (const ExitStatusRow& row : ExitStatusTable()) {
    EXPECT_EQ(row.status, expected++) << "the table runs in order, without gaps";
    const std::string number = std::to_string(row.status);
    EXPECT_NE(help.find("\n" + std::string(4 - number.size(), ' ') + number + "  "),
              std::string::npos) << row.status;
    if (!row.text.empty()) {
      EXPECT_NE(help.find(row.text), std::string::npos) << row.status;
    }
  }
  EXPECT_EQ(expected, kExitRecord + 1);
  // Every line fits a terminal of 80 columns (the texts count two per character).
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\xE3") == std::string::npos) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
}

}  // namespace
}  // namespace gps

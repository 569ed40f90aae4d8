// The hidapi backend on this machine: what can be shown without a device.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <sstream>

#include "hid/hid_backend.h"
#include "hid/tracing_backend.h"

namespace gps {
namespace {

// An open that fails carries hidapi's call, the errno beneath it and
// hidapi's own text, and the trace shows them.
TEST(HidapiBackend, AFailedOpenTellsThePlatformsCause) {
  std::ostringstream out;
  TracingBackend tracer(PlatformHidBackend(), out);
  const HidOpenResult result = tracer.OpenData("/nonexistent/hidraw-gps-test", HidAccess::Read);
  EXPECT_EQ(result.handle, kInvalidHidHandle);
  EXPECT_EQ(result.error, HidOpenError::Gone);
  EXPECT_STREQ(result.cause.call, "hid_open_path");
  EXPECT_EQ(result.cause.code, ENOENT);
  EXPECT_TRUE(std::regex_search(
      out.str(), std::regex(R"(\] open read /nonexistent/hidraw-gps-test: gone \(hid_open_path: )" +
                            std::to_string(ENOENT) + R"(, .+\)\n$)")))
      << out.str();
}

}  // namespace
}  // namespace gps

// The hidapi backend on this machine: what can be shown without a device.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <sstream>

#include "hid/device_lock_posix.h"
#include "hid/hid_backend.h"
#include "hid/tracing_backend.h"
#include "tests/temp_folder.h"

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

// On Linux the claim is an flock on the device node, which a program of any
// user meets: here a child process holds a file that stands in for the node.
TEST(DeviceClaim, ANodeLockedByAnotherProcessIsBusy) {
  test::TempFolder dir;
  const std::filesystem::path node = dir.Write("hidraw-standin", std::string_view("x"));
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(release[1]);  // so that the parent's close is the end of the pipe
    const DeviceClaim held = ClaimDeviceNode(node.string());
    const char said = held.lock ? 'y' : 'n';
    (void)!write(ready[1], &said, 1);
    char wait;
    (void)!read(release[0], &wait, 1);  // until the parent has looked
    _exit(0);
  }
  char said = 0;
  ASSERT_EQ(read(ready[0], &said, 1), 1);
  ASSERT_EQ(said, 'y');
  const DeviceClaim second = ClaimDeviceNode(node.string());
  EXPECT_TRUE(second.busy);
  EXPECT_EQ(second.lock, nullptr);
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(ClaimDeviceNode(node.string()).busy);  // gone with its holder
  // A node that cannot be opened is no claim and not busy: the job's own
  // open then says why.
  const DeviceClaim missing = ClaimDeviceNode((dir.path() / "missing").string());
  EXPECT_FALSE(missing.busy);
  EXPECT_EQ(missing.lock, nullptr);
  for (int fd : {ready[0], ready[1], release[0]}) close(fd);
}

}  // namespace
}  // namespace gps

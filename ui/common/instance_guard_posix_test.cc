// Where the lock file may live, and the guard taken there.
#include "ui/common/instance_guard_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "tests/temp_folder.h"
#include "ui/common/instance_guard.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

// Another account's id, for directories that only root can hand over.
constexpr uid_t kNobody = 65534;

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class LockPlace : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(shared_); }
  // A directory of ours with `mode`, owned by `owner` when that is another
  // account (only root can do that).
  fs::path Dir(const char* name, mode_t mode, std::optional<uid_t> owner = std::nullopt) {
    const fs::path path = root_ / name;
    fs::create_directory(path);
    chmod(path.c_str(), mode);
    if (owner) {
      EXPECT_EQ(chown(path.c_str(), *owner, *owner), 0);
    }
    return path;
  }
  std::string Fallback() const { return SharedLockDirectory(shared_.string()); }

  test::TempFolder folder_{"lock"};
  const fs::path root_ = folder_.path();
  const fs::path shared_ = root_ / "shared";
};

// $XDG_RUNTIME_DIR is used only when it is a directory of this user's alone;
// otherwise the user's own directory under the shared parent, made 0700.
TEST_F(LockPlace, TheRuntimeDirectoryOnlyWhenItIsTheUsersAlone) {
  const bool root = geteuid() == 0;
  std::ofstream(root_ / "a-file") << "x";
  struct Case {
    const char* name;
    std::optional<std::string> runtime;
    bool used;
  };
  const Case cases[] = {
      {"unset", std::nullopt, false},
      {"empty", "", false},
      {"the user's, 0700", Dir("own", 0700).string(), true},
      {"the user's, 0755", Dir("readable", 0755).string(), true},
      {"missing", (root_ / "missing").string(), false},
      {"a file", (root_ / "a-file").string(), false},
      {"writable by everyone", Dir("everyone", 0777).string(), false},
      {"writable by the group", Dir("group", 0770).string(), false},
      {"another user's", root ? Dir("foreign", 0700, kNobody).string() : "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LockDirectory dir =
        OpenLockDirectory(c.runtime ? c.runtime->c_str() : nullptr, shared_.string());
    ASSERT_GE(dir.fd, 0) << dir.problem;
    close(dir.fd);
    EXPECT_EQ(dir.path, c.used ? *c.runtime : Fallback());
    EXPECT_EQ(dir.problem, "");
  }
  EXPECT_EQ(ModeOf(Fallback()), 0700u);
}

// The shared parent is anyone's to write in: whatever stands at the user's
// name there and is not the user's own directory is refused, never used.
TEST_F(LockPlace, ASharedDirectoryThatIsNotTheUsersOwnIsRefused) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> plant;
    std::string problem;
    bool needsRoot;
  };
  const fs::path elsewhere = Dir("elsewhere", 0700);
  const Case cases[] = {
      {"a link to a directory of the user's",
       [&](const fs::path& p) { fs::create_directory_symlink(elsewhere, p); },
       "a symbolic link", false},
      {"a file", [](const fs::path& p) { std::ofstream(p) << "x"; }, "Not a directory", false},
      {"writable by everyone",
       [](const fs::path& p) {
         fs::create_directory(p);
         chmod(p.c_str(), 0777);
       },
       "writable by other users", false},
      {"another user's",
       [](const fs::path& p) {
         fs::create_directory(p);
         EXPECT_EQ(chown(p.c_str(), kNobody, kNobody), 0);
       },
       "owned by another user", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && geteuid() != 0) continue;  // only root can hand a directory over
    std::error_code ignored;
    fs::remove_all(Fallback(), ignored);
    c.plant(Fallback());
    const LockDirectory dir = OpenLockDirectory(nullptr, shared_.string());
    EXPECT_EQ(dir.fd, -1);
    EXPECT_EQ(dir.problem, Fallback() + ": " + c.problem);
  }
}

// The guard itself, in a runtime directory of the test's own.
class GuardIn : public LockPlace {
 protected:
  void SetUp() override {
    LockPlace::SetUp();
    runtime_ = Dir("runtime", 0700);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    if (old_) {
      setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    LockPlace::TearDown();
  }
  fs::path runtime_;
  std::optional<std::string> old_;
};

TEST_F(GuardIn, OneHolderAtATime) {
  auto first = InstanceGuard::Acquire();
  EXPECT_EQ(first->state(), InstanceGuard::State::Held);
  EXPECT_EQ(ModeOf(runtime_ / kInstanceGuardName), 0600u);
  EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::AlreadyRunning);
  first.reset();
  EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::Held);
}

// A lock that cannot be made where it belongs is no reason to run without
// one: the guard is Unavailable and says where and why.
TEST_F(GuardIn, ALockFileThatCannotBeMadeLeavesTheGuardUnavailable) {
  const fs::path lock = runtime_ / kInstanceGuardName;
  fs::create_directory(lock);
  auto guard = InstanceGuard::Acquire();
  EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
  EXPECT_EQ(guard->problem(), lock.string() + ": Is a directory");

  fs::remove(lock);
  fs::create_symlink(root_ / "target", lock);
  guard = InstanceGuard::Acquire();
  EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
  EXPECT_FALSE(fs::exists(root_ / "target"));  // the link was not followed

  // Root may write to a read-only directory, so only others can see this.
  if (geteuid() != 0) {
    fs::remove(lock);
    chmod(runtime_.c_str(), 0500);
    EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::Unavailable);
    chmod(runtime_.c_str(), 0700);
  }
}

}  // namespace
}  // namespace gps

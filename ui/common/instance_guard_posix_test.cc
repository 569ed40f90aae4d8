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
#include <utility>
#include <vector>

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

// The user's own directory under the shared parent, made 0700.
TEST_F(LockPlace, TheUsersOwnDirectoryUnderTheSharedParent) {
  const LockDirectory dir = OpenLockDirectory(shared_.string());
  ASSERT_GE(dir.fd, 0) << dir.problem;
  close(dir.fd);
  EXPECT_EQ(dir.path, Fallback());
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
    const LockDirectory dir = OpenLockDirectory(shared_.string());
    EXPECT_EQ(dir.fd, -1);
    EXPECT_EQ(dir.problem, Fallback() + ": " + c.problem);
    EXPECT_EQ(dir.kind, LockProblem::UnsafePlace);
  }
}

// The guard itself, under a shared parent of the test's own.
class GuardIn : public LockPlace {
 protected:
  void SetUp() override {
    LockPlace::SetUp();
    Remember("GPS_UPDATE_LOCK_PARENT", shared_.string());
    Remember("XDG_RUNTIME_DIR", std::nullopt);
    place_ = Fallback();
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    LockPlace::TearDown();
  }
  void Remember(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    Set(name, value);
  }
  static void Set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  fs::path place_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(GuardIn, OneHolderAtATime) {
  auto first = InstanceGuard::Acquire();
  EXPECT_EQ(first->state(), InstanceGuard::State::Held);
  EXPECT_EQ(ModeOf(place_ / kInstanceGuardName), 0600u);
  EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::AlreadyRunning);
  first.reset();
  EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::Held);
}

// Copies started from cron, sudo -u or a desktop session see different
// runtime directories, or none: they meet all the same.
TEST_F(GuardIn, TheRuntimeDirectoryDoesNotMoveTheLock) {
  const std::optional<std::string> runtimes[] = {
      std::nullopt, "", Dir("runtime-a", 0700).string(), Dir("runtime-b", 0700).string(),
      Dir("everyone", 0777).string()};
  Set("XDG_RUNTIME_DIR", runtimes[2]);
  auto first = InstanceGuard::Acquire();
  ASSERT_EQ(first->state(), InstanceGuard::State::Held) << first->problem();
  for (const auto& runtime : runtimes) {
    SCOPED_TRACE(runtime.value_or("unset"));
    Set("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(InstanceGuard::Acquire()->state(), InstanceGuard::State::AlreadyRunning);
  }
}

// A lock that cannot be made where it belongs is no reason to run without
// one: the guard is Unavailable, says where and why, and whether the place
// is at fault or the system refused.
TEST_F(GuardIn, ALockFileThatCannotBeMadeLeavesTheGuardUnavailable) {
  fs::create_directories(place_);
  const fs::path lock = place_ / kInstanceGuardName;
  fs::create_directory(lock);
  auto guard = InstanceGuard::Acquire();
  EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
  EXPECT_EQ(guard->problem(), lock.string() + ": Is a directory");
  EXPECT_TRUE(guard->placeUnsafe());

  fs::remove(lock);
  fs::create_symlink(root_ / "target", lock);
  guard = InstanceGuard::Acquire();
  EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
  EXPECT_TRUE(guard->placeUnsafe());
  EXPECT_FALSE(fs::exists(root_ / "target"));  // the link was not followed

  // Root may write to a read-only directory, so only others can see this.
  if (geteuid() != 0) {
    fs::remove(lock);
    chmod(place_.c_str(), 0500);
    guard = InstanceGuard::Acquire();
    EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
    EXPECT_FALSE(guard->placeUnsafe());
    chmod(place_.c_str(), 0700);
  }
}

// A full disk is the system's refusal, not a foreign place: the text says
// what to check. (/dev/full is not a directory, so the parent cannot be
// made under it: the same kind of refusal.)
TEST_F(GuardIn, TheSystemsRefusalIsNotBlamedOnThePlace) {
  Set("GPS_UPDATE_LOCK_PARENT", std::string("/proc/gps-update-no-such-parent"));
  auto guard = InstanceGuard::Acquire();
  EXPECT_EQ(guard->state(), InstanceGuard::State::Unavailable);
  EXPECT_FALSE(guard->placeUnsafe()) << guard->problem();
  EXPECT_EQ(LockFailedText(*guard), text::kInstanceLockSystemFailed);
}

}  // namespace
}  // namespace gps

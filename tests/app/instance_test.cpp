#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "app/instance.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

// Puts an environment variable back as it was.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) value_ = value;
  }
  ~SavedVariable() {
    if (value_)
      setenv(name_, value_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

TEST(InstanceKey, BuiltFromTheAbsoluteFolderUpperCasedWithDelimitersAsDashes) {
  TempDir dir;
  std::filesystem::create_directory(dir / "Game");
  const std::string key = InstanceKey(dir / "Game");
  std::string expected = std::filesystem::canonical(dir / "Game").string() + "/";
  for (char& c : expected) c = c == '/' ? '-' : static_cast<char>(std::toupper(c));
  EXPECT_EQ(key, expected);
  EXPECT_EQ(key.back(), '-');
  EXPECT_EQ(key.find('/'), std::string::npos);
  // Every spelling of the same folder gives the same key.
  EXPECT_EQ(InstanceKey(dir / "Game" / ""), key);
  EXPECT_EQ(InstanceKey(dir / "Game" / "." / ".." / "Game"), key);
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(InstanceKey("Game"), key);
  std::filesystem::current_path(old);
  EXPECT_NE(InstanceKey(dir.path()), key);
}

TEST(InstanceKey, LockFileIsNamedByAHashInTheRuntimeFolder) {
  const SavedVariable runtime("XDG_RUNTIME_DIR"), temp("TMPDIR");
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  const auto a = InstanceLockPath("-GAME-A-"), b = InstanceLockPath("-GAME-B-");
  EXPECT_EQ(a.parent_path(), "/run/user/4242");
  EXPECT_NE(a, b);
  EXPECT_EQ(a, InstanceLockPath("-GAME-A-"));
  EXPECT_EQ(a.filename().string().rfind("zirkplayer-", 0), 0u);
  // A relative runtime folder is not trusted: the temp folder holds a folder
  // of the user's own instead.
  const std::string own = "zirkplayer-" + std::to_string(geteuid());
  setenv("XDG_RUNTIME_DIR", "relative", 1);
  unsetenv("TMPDIR");
  EXPECT_EQ(InstanceLockPath("-GAME-A-").parent_path(), std::filesystem::path("/tmp") / own);
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", "/scratch", 1);
  EXPECT_EQ(InstanceLockPath("-GAME-A-").parent_path(), std::filesystem::path("/scratch") / own);
}

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }
  SavedVariable runtime_{"XDG_RUNTIME_DIR"}, temp_{"TMPDIR"};
  TempDir dir;
};

TEST_F(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  auto first = TInstanceLock::Acquire("-GAME-");
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->Held());
  EXPECT_EQ(first->Path().parent_path(), dir.path());
  EXPECT_EQ(TInstanceLock::Acquire("-GAME-"), nullptr);
  // Another folder is another key.
  EXPECT_TRUE(TInstanceLock::Acquire("-OTHER-"));
  first.reset();
  // The file goes with its holder.
  EXPECT_FALSE(std::filesystem::exists(InstanceLockPath("-GAME-")));
  EXPECT_TRUE(TInstanceLock::Acquire("-GAME-"));
}

TEST_F(InstanceLockTest, ALockLeftByAKilledProcessDoesNotBlock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // The child locks the file as the player does, with system calls only:
  // nothing that could wait on a lock another thread held at the fork.
  const std::string path = InstanceLockPath("-KILLED-").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const char state = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'L' : 'F';
    (void)!write(ready[1], &state, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  close(ready[0]);
  EXPECT_EQ(state, 'L');
  EXPECT_EQ(TInstanceLock::Acquire("-KILLED-"), nullptr);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  auto lock = TInstanceLock::Acquire("-KILLED-");
  ASSERT_TRUE(lock);
  EXPECT_TRUE(lock->Held());
}

TEST_F(InstanceLockTest, AnUnwritableLockFolderLetsThePlayerRunUnlocked) {
  setenv("XDG_RUNTIME_DIR", (dir / "missing").c_str(), 1);
  auto lock = TInstanceLock::Acquire("-GAME-");
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->Held());
}

TEST_F(InstanceLockTest, WithoutARuntimeFolderTheLocksLiveInAFolderOfTheUsersOwn) {
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", dir.path().c_str(), 1);
  const auto own = dir / ("zirkplayer-" + std::to_string(geteuid()));
  auto lock = TInstanceLock::Acquire("-GAME-");
  EXPECT_TRUE(lock && lock->Held());
  EXPECT_EQ(std::filesystem::status(own).permissions(), std::filesystem::perms::owner_all);
  lock.reset();
  // A folder others may write is no place for them: the player runs unlocked.
  std::filesystem::permissions(own, std::filesystem::perms::all);
  lock = TInstanceLock::Acquire("-GAME-");
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->Held());
  EXPECT_NE(lock->Problem().find("open to other users"), std::string::npos) << lock->Problem();
}

}  // namespace
}  // namespace zirk::test

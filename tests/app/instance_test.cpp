#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "app/instance.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

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
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  const auto a = InstanceLockPath("-GAME-A-"), b = InstanceLockPath("-GAME-B-");
  EXPECT_EQ(a.parent_path(), "/run/user/4242");
  EXPECT_NE(a, b);
  EXPECT_EQ(a, InstanceLockPath("-GAME-A-"));
  EXPECT_EQ(a.filename().string().rfind("zirkplayer-", 0), 0u);
  // A relative runtime folder is not trusted.
  setenv("XDG_RUNTIME_DIR", "relative", 1);
  EXPECT_EQ(InstanceLockPath("-GAME-A-").parent_path(), "/tmp");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockPath("-GAME-A-").parent_path(), "/tmp");
  if (saved) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    if (saved) saved_ = saved;
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty())
      unsetenv("XDG_RUNTIME_DIR");
    else
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
  }
  TempDir dir;
  std::string saved_;
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
  // The file stays behind; it does not block.
  EXPECT_TRUE(std::filesystem::exists(InstanceLockPath("-GAME-")));
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

}  // namespace
}  // namespace zirk::test

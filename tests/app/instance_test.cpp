#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/instance.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

TEST(InstanceKey, OneKeyPerFolderWhateverItsSpelling) {
  TempDir dir;
  for (const char* folder : {"Game", "game", "a-b/c", "a/b-c"})
    std::filesystem::create_directories(dir / folder);
  const std::string key = InstanceKey(dir / "Game");
  // Every spelling of the same folder gives the same key.
  EXPECT_EQ(InstanceKey(dir / "Game" / ""), key);
  EXPECT_EQ(InstanceKey(dir / "Game" / "." / ".." / "Game"), key);
  std::filesystem::create_directory_symlink(dir / "Game", dir / "link");
  EXPECT_EQ(InstanceKey(dir / "link"), key);
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(InstanceKey("Game"), key);
  std::filesystem::current_path(old);
  EXPECT_NE(InstanceKey(dir.path()), key);
  // Names differing in case or in where their delimiters are name two folders.
  EXPECT_NE(InstanceKey(dir / "game"), key);
  EXPECT_NE(InstanceKey(dir / "a-b" / "c"), InstanceKey(dir / "a" / "b-c"));
}

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(own_);
    std::filesystem::permissions(own_, std::filesystem::perms::owner_all);
  }
  TempDir dir;
  // The lock folder own_, made in the temp folder dir.
  const std::filesystem::path own_ = dir / ("zirkplayer-" + std::to_string(geteuid()));
};

// One fixed place, whatever the environment or the user's runtime folder.
TEST_F(InstanceLockTest, TheLocksLiveInOneFolderOfTheUsersOwn) {
  EXPECT_EQ(InstanceLockFolder(), "/tmp/zirkplayer-" + std::to_string(geteuid()));
  EXPECT_EQ(InstanceLockFolder(dir.path()), own_);
  const auto a = InstanceLockPath("-GAME-A-", dir.path());
  EXPECT_EQ(a.parent_path(), own_);
  EXPECT_NE(a, InstanceLockPath("-GAME-B-", dir.path()));
  EXPECT_EQ(a.filename().string().rfind("zirkplayer-", 0), 0u);
  // A link, even to a folder of the user's own, is no place for them.
  std::filesystem::remove(own_);
  std::filesystem::create_directory_symlink(dir.path(), own_);
  auto lock = TInstanceLock::Acquire("-GAME-", dir.path());
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->Held());
  EXPECT_NE(lock->Problem().find("is not a folder"), std::string::npos) << lock->Problem();
}

TEST_F(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  auto first = TInstanceLock::Acquire("-GAME-", dir.path());
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->Held());
  EXPECT_EQ(first->Path().parent_path(), own_);
  EXPECT_EQ(TInstanceLock::Acquire("-GAME-", dir.path()), nullptr);
  // Another folder is another key.
  EXPECT_TRUE(TInstanceLock::Acquire("-OTHER-", dir.path()));
  first.reset();
  // The file goes with its holder.
  EXPECT_FALSE(std::filesystem::exists(InstanceLockPath("-GAME-", dir.path())));
  EXPECT_TRUE(TInstanceLock::Acquire("-GAME-", dir.path()));
}

TEST_F(InstanceLockTest, ALockLeftByAKilledProcessDoesNotBlock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // The child locks the file as the player does, with system calls only:
  // nothing that could wait on a lock another thread held at the fork.
  const std::string path = InstanceLockPath("-KILLED-", dir.path()).string();
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
  EXPECT_EQ(TInstanceLock::Acquire("-KILLED-", dir.path()), nullptr);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  auto lock = TInstanceLock::Acquire("-KILLED-", dir.path());
  ASSERT_TRUE(lock);
  EXPECT_TRUE(lock->Held());
}

TEST_F(InstanceLockTest, AnUnwritableLockFolderLetsThePlayerRunUnlocked) {
  auto lock = TInstanceLock::Acquire("-GAME-", dir / "missing");
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->Held());
}

TEST_F(InstanceLockTest, TheLockFolderIsMadeForTheUserAndOnlyThenUsed) {
  std::filesystem::remove(own_);
  auto lock = TInstanceLock::Acquire("-GAME-", dir.path());
  EXPECT_TRUE(lock && lock->Held());
  EXPECT_EQ(std::filesystem::status(own_).permissions(), std::filesystem::perms::owner_all);
  lock.reset();
  // A folder others may write, or another user's, is no place for them: the
  // player runs unlocked.
  std::filesystem::permissions(own_, std::filesystem::perms::all);
  lock = TInstanceLock::Acquire("-GAME-", dir.path());
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->Held());
  EXPECT_NE(lock->Problem().find("open to other users"), std::string::npos) << lock->Problem();
  std::filesystem::permissions(own_, std::filesystem::perms::owner_all);
  if (geteuid() == 0 && chown(own_.c_str(), 65534, 65534) == 0) {
    lock = TInstanceLock::Acquire("-GAME-", dir.path());
    EXPECT_NE(lock->Problem().find("belongs to another user"), std::string::npos)
        << lock->Problem();
  }
}

}  // namespace
}  // namespace zirk::test

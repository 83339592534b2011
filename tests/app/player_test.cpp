#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "app/cmdline.h"
#include "base/streams.h"
#include "imaging/KwPNG.h"
#include "process.h"
#include "support/testdata.h"
#include "surfaces/dibsfc.h"

namespace zirk::test {
namespace {

const std::string kPlayer = ZIRK_PLAYER_EXE;
const std::string kMkdemo = ZIRK_MKDEMO_EXE;

TEST(CommandLine, FoldersAndOptions) {
  const TCommandLine line =
      ParseCommandLine({"game", "--film", "op.zcn", "more", "--headless", "--frames", "12",
                        "--screenshot", "s.png", "--movie", "m.wmv"});
  EXPECT_EQ(line.Folders, (std::vector<std::string>{"game", "more"}));
  EXPECT_EQ(line.Film, "op.zcn");
  EXPECT_TRUE(line.Headless);
  EXPECT_EQ(line.Frames, 12);
  EXPECT_EQ(line.Screenshot, "s.png");
  EXPECT_EQ(line.Movie, "m.wmv");
  const TCommandLine empty = ParseCommandLine({});
  EXPECT_TRUE(empty.Folders.empty());
  EXPECT_FALSE(empty.Film || empty.Frames || empty.Screenshot || empty.Headless);
  EXPECT_EQ(ParseCommandLine({"--", "--film"}).Folders, (std::vector<std::string>{"--film"}));
  EXPECT_TRUE(ParseCommandLine({"--help"}).Help);
  // Menu choices arrive as UTF-8 and become Shift-JIS; a "|" only separates.
  // "ポ" has the trail byte of "|" in Shift-JIS.
  EXPECT_EQ(ParseCommandLine({"--menu", "続ける|ポ|End"}).Menu,
            (std::vector<std::string>{"\x91\xB1\x82\xAF\x82\xE9", "\x83|", "End"}));
  // So do file names; Shift-JIS bytes ("ム") stay as they are.
  EXPECT_EQ(ParseCommandLine({"--film", "デモ.zcn"}).Film, "\x83\x66\x83\x82.zcn");
  EXPECT_EQ(ParseCommandLine({"--movie", "\x83\x80.wmv"}).Movie, "\x83\x80.wmv");
  const std::vector<std::vector<std::string>> wrong = {{"--film"},
                                                       {"--frames"},
                                                       {"--frames", "-1"},
                                                       {"--frames", "12x"},
                                                       {"--frames", "99999999999999999999"},
                                                       {"--screenshot", ""},
                                                       {"--menu", "a||b"},
                                                       {"--menu", "a|"},
                                                       {"--menu", "a\nb"},
                                                       {"--menu", "\xFF"},
                                                       {"--menu", "😀"},
                                                       {"--screenshot", "x.jpg"},
                                                       {"--fullscreen"}};
  for (const auto& args : wrong)
    EXPECT_THROW(ParseCommandLine(args), std::invalid_argument) << args[0];
}

// Whether the process holds an flock, by the kernel's list of locks
// ("1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF").
bool holdsFileLock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  std::string line;
  const std::string owner = " " + std::to_string(pid) + " ";
  while (std::getline(locks, line))
    if (line.find("FLOCK") != std::string::npos && line.find(owner) != std::string::npos)
      return true;
  return false;
}

// The demo written into a folder of its own, so runs in parallel never share
// a game folder (and its lock).
class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ProcessResult made = runProcess({kMkdemo, (dir / "demo").string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  ProcessResult play(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), kPlayer);
    return runProcess(args, std::chrono::seconds(120), env);
  }
  static std::vector<uint8_t> bytes(const std::filesystem::path& file) {
    std::vector<unsigned char> b = readFile(file);
    return {b.begin(), b.end()};
  }
  static std::unique_ptr<TDIBSurface> picture(const std::filesystem::path& file) {
    TKwMemoryStream stream;
    stream.LoadFromFile(file.string());
    auto surface = std::make_unique<TDIBSurface>();
    LoadPNGSurface(*surface, stream);
    return surface;
  }
  TempDir dir;
};

TEST_F(PlayerTest, AHeadlessRunOfTheDemoGivesTheSameScreenshotTwice) {
  const std::string demo = (dir / "demo").string();
  std::vector<std::vector<uint8_t>> shots;
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    const std::string frames = std::string(name) == "c.png" ? "100" : "90";
    const ProcessResult r = play({demo, "--film", "demo.zcn", "--headless", "--frames", frames,
                                  "--screenshot", (dir / name).string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, (dir / name).string() + "\n");
    shots.push_back(bytes(dir / name));
  }
  EXPECT_EQ(shots[0], shots[1]);
  // Ten ticks later the picture has moved on.
  EXPECT_NE(shots[0], shots[2]);
  const auto shotPtr = picture(dir / "a.png");
  const TDIBSurface& shot = *shotPtr;
  ASSERT_EQ(shot.Width(), 640);
  ASSERT_EQ(shot.Height(), 480);
  std::set<uint32_t> colors;
  for (int32_t y = 0; y < 480; y += 7)
    for (int32_t x = 0; x < 640; x += 7) colors.insert(shot.PixelToColor(shot.GetRawPixel(x, y)));
  EXPECT_GT(colors.size(), 20u);
}

TEST_F(PlayerTest, TheDemoPlaysItsMusicTuneAndMovie) {
  // The movie shows in the top right corner, above the film.
  const ProcessResult r =
      play({(dir / "demo").string(), "--film", "demo.zcn", "--movie", "movie.wmv", "--headless",
            "--frames", "420", "--screenshot", (dir / "movie.png").string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto shotPtr = picture(dir / "movie.png");
  const TDIBSurface& shot = *shotPtr;
  std::set<uint32_t> colors;
  for (int32_t y = 24; y < 104; y += 4)
    for (int32_t x = 504; x < 616; x += 4)
      colors.insert(shot.PixelToColor(shot.GetRawPixel(x, y)) & 0xFFFFFF);
  EXPECT_GT(colors.size(), 40u) << "the colour wheel of the movie";
}

TEST_F(PlayerTest, TheMenuOpensInTheMiddleOnceTheFilmHasRunSevenSeconds) {
  // Three rows of 24 pixels 8 apart, 4 pixels of margin and the 16-pixel
  // frame: 128 high, from y 176 to 304, its gold line 2 to 4 pixels in.
  constexpr uint32_t kGold = 0x58C0E8;
  struct Case {
    const char* frames;
    bool open;
  } cases[] = {{"400", false}, {"480", true}};
  for (const Case& c : cases) {
    const std::filesystem::path file = dir / (std::string(c.frames) + ".png");
    const ProcessResult r =
        play({(dir / "demo").string(), "--film", "demo.zcn", "--menu", "続ける|最初から|終わる",
              "--headless", "--frames", c.frames, "--screenshot", file.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto shot = picture(file);
    auto color = [&](int32_t x, int32_t y) {
      return shot->PixelToColor(shot->GetRawPixel(x, y)) & 0xFFFFFF;
    };
    for (int32_t y : {178, 179, 300, 301})
      EXPECT_EQ(color(320, y) == kGold, c.open) << c.frames << " y " << y;
    if (!c.open) continue;
    EXPECT_NE(color(320, 175), kGold);
    EXPECT_NE(color(320, 304), kGold);
    // Across the middle row the two gold lines lie as far from the middle.
    int32_t left = 0, right = 639;
    while (left < 320 && color(left, 240) != kGold) ++left;
    while (right > 320 && color(right, 240) != kGold) --right;
    EXPECT_LT(left, 260);
    EXPECT_NEAR(left + right, 639, 1);
  }
}

TEST_F(PlayerTest, WithoutAFilmTheEmptySceneShows) {
  const ProcessResult r = play({(dir / "demo").string(), "--headless", "--frames", "3",
                                "--screenshot", (dir / "empty.png").string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("nothing starts the game"), std::string::npos) << r.err;
  const auto shotPtr = picture(dir / "empty.png");
  const TDIBSurface& shot = *shotPtr;
  ASSERT_EQ(shot.Width(), 640);
  ASSERT_EQ(shot.Height(), 480);
  EXPECT_EQ(shot.PixelToColor(shot.GetRawPixel(320, 240)) & 0xFFFFFF, 0u);
}

TEST_F(PlayerTest, ExitCodesOfWrongStarts) {
  const std::string demo = (dir / "demo").string(), dead = "DISPLAY=" + demo + "/x:0";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
    std::vector<std::string> env = {};
  } cases[] = {
      {{"--frames"}, 2, "--frames needs a value"},
      {{"--bogus"}, 2, "unknown option --bogus"},
      {{(dir / "nowhere").string(), "--headless", "--frames", "1"},
       1,
       "zirkplayer: the game folder \"" + (dir / "nowhere").string() + "\" does not exist"},
      {{(dir / "demo").string(), "--film", "nofilm.zcn", "--headless", "--frames", "1"},
       1,
       "nofilm.zcn"},
      {{demo, "--film", "folder.zcn", "--headless", "--frames", "1"},
       1,
       "zirkplayer: folder.zcn: not a regular file"},
      {{(dir / "demo").string(), "--film", "demo.zcn", "--headless", "--frames", "1",
        "--screenshot", (dir / "no" / "such" / "s.png").string()},
       1,
       "cannot write the screenshot"},
      {{(dir / "demo").string(), "--movie", "nomovie.wmv", "--headless", "--frames", "1"},
       1,
       "nomovie.wmv: the movie file is missing"},
      // Names typed in UTF-8 find the file and come back in UTF-8, as do
      // names given in Shift-JIS.
      {{demo, "--film", "デモ.zcn", "--movie", "ムービー.wmv", "--headless", "--frames", "1"},
       1,
       "zirkplayer: ムービー.wmv: the movie file is missing"},
      {{demo, "--film", "\x82\xC8\x82\xA2.zcn", "--headless", "--frames", "1"},
       1,
       "zirkplayer: ない.zcn: the film file is missing"},
      {{demo, "--film", "デモない.zcn", "--headless", "--frames", "1"},
       1,
       "zirkplayer: デモない.zcn: the film file is missing"},
      // Names Shift-JIS cannot hold are the host's own and show as typed.
      {{demo, "--film", "naïve.zcn", "--headless", "--frames", "1"},
       1,
       "zirkplayer: naïve.zcn: the film file is missing"},
      {{demo, "--film", "🎬x.zcn", "--headless", "--frames", "1"},
       1,
       "zirkplayer: 🎬x.zcn: film file is shorter than its header"},
      {{demo, "--movie", "🎬x.wmv", "--headless", "--frames", "1"},
       0,
       "zirkplayer: 🎬x.wmv: the movie cannot be played"},
      // Opening a FIFO would wait for a writer, a device would never end.
      {{demo, "--movie", "fifo.wmv", "--headless", "--frames", "1"},
       1,
       "zirkplayer: fifo.wmv: not a regular file"},
      {{demo, "--movie", "zero.wmv", "--headless", "--frames", "1"},
       1,
       "zirkplayer: zero.wmv: not a regular file"},
      // A movie the library cannot play is named, and the run goes on.
      {{(dir / "demo").string(), "--movie", "junk.wmv", "--headless", "--frames", "1"},
       0,
       "junk.wmv: the movie cannot be played"},
      {{(dir / "demo").string(), "--menu", "a|b", "--headless", "--frames", "1"},
       1,
       "zirkplayer: menutl.dor: Negative frame count"},  // named once
      {{"--screenshot", "x.jpg"}, 2, "zirkplayer: --screenshot writes PNG"},
      {{demo, demo + "/gone", "--headless", "--frames", "1"}, 0, "gone\" does not exist; playing"},
      // ALSA without its configuration knows no device.
      {{demo, "--headless", "--frames", "1"},
       0,
       "no sound device; playing",
       {"SDL_AUDIODRIVER=alsa", "ALSA_CONFIG_PATH=" + demo + "/none.conf"}},
      {{demo, "--frames", "1"}, 1, "window: no display (", {"DISPLAY=", "WAYLAND_DISPLAY="}},
      {{demo, "--frames", "1"}, 1, "answers at " + dead.substr(0, 8), {dead, "WAYLAND_DISPLAY="}},
  };
  writeFile(dir / "demo" / "junk.wmv", std::string(300, 'j'));
  writeFile(dir / "demo" / "🎬x.wmv", std::string(300, 'j'));
  writeFile(dir / "demo" / "🎬x.zcn", "ZirkCinema");
  std::filesystem::copy_file(dir / "demo" / "demo.zcn", dir / "demo" / "デモ.zcn");
  std::filesystem::create_directory(dir / "demo" / "folder.zcn");
  ASSERT_EQ(::mkfifo((dir / "demo" / "fifo.wmv").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "demo" / "zero.wmv");
  writeFile(dir / "demo" / "menutl.dor", std::string(4, '\xFF') + std::string(60, '\0'));
  for (const Case& c : cases) {
    const ProcessResult r = play(c.args, c.env);
    EXPECT_EQ(r.exitCode, c.code) << c.args[0] << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("ALSA lib"), std::string::npos) << r.err;
  }
  for (const std::string& exe : {kPlayer, kMkdemo}) {
    for (const char* option : {"-h", "--help"}) {
      const ProcessResult help = runProcess({exe, option});
      EXPECT_EQ(help.exitCode, 0);
      EXPECT_EQ(help.out.rfind("usage: ", 0), 0u) << exe << option;
    }
  }
}

TEST_F(PlayerTest, AScreenshotThatCannotBeWrittenLeavesTheOldOne) {
  const std::string shot = (dir / "shot.png").string();
  std::vector<std::string> args = {
      (dir / "demo").string(), "--film", "demo.zcn", "--headless", "--frames", "90",
      "--screenshot",          shot};
  ASSERT_EQ(play(args).exitCode, 0);
  const std::vector<uint8_t> old = bytes(shot);
  // The disk is full after 4 KB.
  args.insert(args.begin(), {"sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh", kPlayer});
  const ProcessResult r = runProcess(args);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot write the screenshot " + shot), std::string::npos) << r.err;
  EXPECT_EQ(bytes(shot), old);
}

// A game folder that is a file, or that the player may not read, is named
// for what it is rather than as missing.
TEST_F(PlayerTest, AGameFolderThatCannotServeSaysWhy) {
  std::ofstream((dir / "plain.txt").string()) << "not a folder";
  const ProcessResult file = play({(dir / "plain.txt").string(), "--headless", "--frames", "1"});
  EXPECT_EQ(file.exitCode, 1);
  EXPECT_NE(file.err.find("is not a folder"), std::string::npos) << file.err;

  const auto locked = dir / "locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  std::vector<std::string> args = {kPlayer,      locked.string(), "--film", "demo.zcn",
                                   "--headless", "--frames",      "1"};
  // The administrator reads every folder: the player runs as nobody then.
  if (geteuid() == 0) {
    if (!onPath("setpriv")) GTEST_SKIP() << "no setpriv to run the player as nobody";
    args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  const ProcessResult unreadable = runProcess(args);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  EXPECT_EQ(unreadable.exitCode, 1);
  EXPECT_NE(unreadable.err.find("cannot be read: Permission denied"), std::string::npos)
      << unreadable.err;
}

TEST_F(PlayerTest, ASecondPlayerOnTheSameFolderEndsAndAKilledOneLeavesNoLock) {
  const std::string demo = (dir / "demo").string();
  const pid_t first = startProcess({kPlayer, demo, "--film", "demo.zcn", "--headless"});
  ASSERT_GT(first, 0);
  // Wait until the first player holds the folder. The kernel's lock list is
  // read rather than the lock tried, as a try could make the first player
  // believe the folder taken.
  bool held = false;
  for (int i = 0; i < 1200 && !held; ++i) {
    held = holdsFileLock(first);
    if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_TRUE(held);
  const ProcessResult second = play({demo, "--headless", "--frames", "1"});
  EXPECT_EQ(second.exitCode, 3);
  EXPECT_NE(second.err.find("another player"), std::string::npos) << second.err;
  // Nor does one started with another runtime and temp folder.
  const ProcessResult elsewhere =
      play({demo, "--headless", "--frames", "1"},
           {"XDG_RUNTIME_DIR=" + dir.path().string(), "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(elsewhere.exitCode, 3) << elsewhere.err;
  // Nor one that finds the user's runtime folder where the first found none
  // (it comes at the first login and goes at the last logout): the folder is
  // made in a mount namespace of the second player's own, which takes root.
  if (geteuid() == 0 && onPath("unshare") && std::filesystem::is_directory("/run/user") &&
      runProcess({"unshare", "--mount", "true"}).exitCode == 0) {
    const ProcessResult withRuntime =
        runProcess({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                    "mount -t tmpfs none /run/user && mkdir -m 700 /run/user/0 && exec \"$@\"",
                    "sh", kPlayer, demo, "--headless", "--frames", "1"});
    EXPECT_EQ(withRuntime.exitCode, 3) << withRuntime.err;
  }
  EXPECT_EQ(play({demo + "/../demo/", "--headless", "--frames", "1"}).exitCode, 3);
  // Another folder is not blocked, though its name differs only in case.
  std::filesystem::create_directory(dir / "DEMO");
  EXPECT_EQ(play({(dir / "DEMO").string(), "--headless", "--frames", "1"}).exitCode, 0);
  stopProcess(first, SIGKILL);
  const ProcessResult third = play({demo, "--headless", "--frames", "1"});
  EXPECT_EQ(third.exitCode, 0) << third.err;
}

TEST_F(PlayerTest, OpensARealWindowOnAVirtualDisplay) {
  if (!onPath("xvfb-run") || !onPath("xauth")) GTEST_SKIP() << "xvfb-run is not installed";
  const ProcessResult r = runProcess(
      {"xvfb-run", "-a", "-s", "-screen 0 800x600x24", kPlayer, (dir / "demo").string(), "--film",
       "demo.zcn", "--frames", "20", "--screenshot", (dir / "x.png").string()},
      std::chrono::seconds(120),  // The X libraries keep allocations to the end on purpose; the
      // player's own leaks are checked by the headless runs.
      {"SDL_AUDIODRIVER=dummy", "SDL_RENDER_DRIVER=software", "ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_FALSE(r.timedOut);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto shotPtr = picture(dir / "x.png");
  const TDIBSurface& shot = *shotPtr;
  EXPECT_EQ(shot.Width(), 640);
  EXPECT_EQ(shot.Height(), 480);
}

}  // namespace
}  // namespace zirk::test

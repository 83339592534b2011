#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/filmplayer.h"
#include "app/menuplayer.h"
#include "app/startup.h"
#include "app/view.h"
#include "base/streams.h"
#include "base/vrfiles.h"
#include "imaging/KwPNG.h"
#include "imaging/dorvs.h"
#include "objects/cinema.h"
#include "objects/menu.h"
#include "platform/msgbox.h"
#include "platform/window.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"
#include "support/filmwriter.h"
#include "support/testdata.h"
#include "surfaces/dibsfc.h"
#include "surfaces/screenman.h"

namespace zirk::test {
namespace {

using platform::Message;

void writeSolidPicture(const std::filesystem::path& file, int32_t w, int32_t h, uint32_t color) {
  TDorvFrameList list;
  TDorvFrame* frame = list.AddFrame();
  frame->Image.SetSize(w, h, 24);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      frame->Image.SetRawPixel(x, y, frame->Image.ColorToPixel(color));
  list.SaveToFile(file.string());
}

// A form on a game folder in a temporary place, without a window, on a
// manual clock; every media hook writes into a log.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPlayerModules();
    std::filesystem::create_directories(dir / "prog");
    std::filesystem::create_directories(dir / "game");
    writeFile(dir / "prog" / "game.ini", "[Sound]\nDirectSound=0\nDelayTime=250\n");
    platform::SetClock(&clock);
    GameTime() = {};
    TMediaHooks hooks;
    hooks.MediaInit = [this](TFormView&) {
      log.push_back(std::string("init project=") + (CurrentProject() ? "1" : "0") +
                    " scene=" + (ScreenList() ? "1" : "0"));
    };
    hooks.MediaFinal = [this] {
      log.push_back(std::string("final project=") + (CurrentProject() ? "1" : "0") +
                    " scene=" + (ScreenList() ? "1" : "0") + " screen=" + (ScreenMan ? "1" : "0"));
    };
    hooks.SuspendAll = [this](bool d) { log.push_back(d ? "suspend deactivate" : "suspend loop"); };
    hooks.ResumeAll = [this](bool a) { log.push_back(a ? "resume activate" : "resume loop"); };
    hooks.WmpmanProcessEvent = [this](const Message& m) { log.push_back("wmp " + hex(m.msg)); };
    hooks.VidmanProcessEvent = [this](const Message& m) { log.push_back("vid " + hex(m.msg)); };
    hooks.PanelPaint = [this](const Message& m) { log.push_back("panel paint " + hex(m.msg)); };
    hooks.SuspendVideoPlayback = [this] { log.push_back("video suspend"); };
    hooks.ResumeVideoPlayback = [this] { log.push_back("video resume"); };
    hooks.CloseMidiDevice = [this] { log.push_back("midi close"); };
    hooks.ReopenMidiDevice = [this] { log.push_back("midi reopen"); };
    SetMediaHooks(std::move(hooks));
  }
  void TearDown() override {
    form.reset();
    SetMediaHooks({});
    platform::SetClock(nullptr);
    platform::SetMessageBoxHandler({});
    GameTime() = {};
  }
  static std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
  }
  TFormView& make(TViewOptions options = {}) {
    options.ProgramFolder = dir / "prog";
    if (options.Folders.empty()) options.Folders = {(dir / "game").string()};
    options.NoWindow = true;
    form = std::make_unique<TFormView>(application, std::move(options));
    return *form;
  }
  void send(uint32_t msg, platform::WPARAM w = 0, platform::LPARAM l = 0) {
    form->WndProc(Message{form->Handle(), msg, w, l});
  }
  void idle(uint32_t ms) {
    clock.Advance(ms);
    if (form->WantsIdle()) form->Idle();
  }

  TempDir dir;
  platform::ManualClock clock{5000};
  TApplication application{"/opt/zirk/zirkplayer"};
  std::unique_ptr<TFormView> form;
  std::vector<std::string> log;
};

TEST_F(FormTest, StartUpMakesTheGameAndTheCloseFreesItInOrder) {
  writeFile(dir / "prog" / "zirkplay.log", "old");
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  EXPECT_FALSE(std::filesystem::exists(dir / "prog" / "zirkplay.log"));
  EXPECT_FALSE(f.Settings().UseDirectSound);
  EXPECT_EQ(f.Settings().SoundDelayTime, 200);
  ASSERT_NE(ScreenList(), nullptr);
  EXPECT_EQ(ScreenList()->Width(), 640);
  EXPECT_EQ(ScreenList()->Height(), 480);
  ASSERT_NE(CurrentProject(), nullptr);
  EXPECT_EQ(CurrentProject()->IdentCode(), 0);
  EXPECT_NE(ScreenMan, nullptr);
  EXPECT_EQ(TVrFileManager::Global(), &f.Files());
  EXPECT_TRUE(f.WantsIdle());
  EXPECT_NE(f.PanelHandle(), 0u);
  EXPECT_EQ(*f.MainPanelHandleVar(), f.PanelHandle());
  EXPECT_EQ(*f.MainWindowHandleVar(), f.Handle());
  f.Close();
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(ScreenList(), nullptr);
  EXPECT_EQ(CurrentProject(), nullptr);
  EXPECT_EQ(ScreenMan, nullptr);
  EXPECT_EQ(TVrFileManager::Global(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"init project=1 scene=1",
                                           "final project=0 scene=0 screen=0"}));
  f.Close();
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(FormTest, AMissingGameFolderFailsTheStartUpWithAMessage) {
  TFormView& f = make({.Folders = {(dir / "nowhere").string()}});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(f.Create());
  const std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(f.StartupFailed());
  EXPECT_EQ(f.ExitCode(), 1);
  EXPECT_TRUE(f.Closed());
  EXPECT_EQ(shown.rfind("zirkplayer: the game folder", 0), 0u) << shown;
  EXPECT_NE(shown.find("nowhere"), std::string::npos);
  EXPECT_EQ(ScreenList(), nullptr);
  EXPECT_FALSE(f.WantsIdle());
}

TEST_F(FormTest, NoTicksAndNoGameTimeWhileInactive) {
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  idle(0);
  idle(16);
  const uint64_t ticks = f.Loop().TickCount();
  const uint32_t gameClock = GameClock();
  send(platform::WM_ACTIVATEAPP, 0);
  EXPECT_FALSE(f.Active());
  EXPECT_FALSE(f.WantsIdle());
  for (int i = 0; i < 10; ++i) idle(100);
  EXPECT_EQ(f.Loop().TickCount(), ticks);
  EXPECT_EQ(GameClock(), gameClock);
  send(platform::WM_ACTIVATEAPP, 1);
  EXPECT_TRUE(f.WantsIdle());
  idle(16);
  EXPECT_EQ(f.Loop().TickCount(), ticks + 1);
  // The second spent inactive is no game time.
  EXPECT_EQ(GameClock(), gameClock + 16);
  // The same state again changes nothing.
  send(platform::WM_ACTIVATEAPP, 1);
  send(platform::WM_ENTERSIZEMOVE);
  send(platform::WM_EXITSIZEMOVE);
  send(platform::WM_ENTERMENULOOP);
  send(platform::WM_EXITMENULOOP);
  EXPECT_EQ(log, (std::vector<std::string>{"init project=1 scene=1", "suspend deactivate",
                                           "resume activate", "suspend loop", "resume loop",
                                           "suspend loop", "resume loop"}));
}

TEST_F(FormTest, MediaMessagesReachTheLibraryHooks) {
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  log.clear();
  // Audio events come after the default handling, video events before it.
  f.AddSubclass([this](const Message& m) {
    if (m.msg == 0x680 || m.msg == 0x682) log.push_back("default " + hex(m.msg));
  });
  for (uint32_t msg : {0x67Fu, 0x680u, 0x681u, 0x682u, 0x683u, 0x684u, 0x7Eu}) send(msg);
  EXPECT_EQ(log, (std::vector<std::string>{"default 680", "wmp 680", "wmp 681", "vid 682",
                                           "default 682", "wmp 683", "vid 7E"}));
  // Posted to the window's handle, as the library does, they arrive the same way.
  log.clear();
  ASSERT_TRUE(platform::PostMessage(f.Handle(), 0x681));
  ASSERT_TRUE(platform::PostMessage(f.PanelHandle(), platform::WM_PAINT));
  platform::ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"wmp 681", "panel paint F"}));
}

TEST_F(FormTest, TheTickMessageRunsOneTickOutsideTheTiming) {
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  idle(0);
  const uint64_t paints = f.Loop().PaintCount(), ticks = f.Loop().TickCount();
  ASSERT_TRUE(platform::PostMessage(f.Handle(), TMainLoop::kTickMessage));
  platform::ProcessMessages();
  EXPECT_EQ(f.Loop().PaintCount(), paints + 1);
  EXPECT_EQ(f.Loop().TickCount(), ticks);
}

TEST_F(FormTest, KeysAndMouseBecomeTheScenesInput) {
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  TZirkBaseList& scene = *ScreenList();
  send(platform::WM_KEYDOWN, 'A', 1);
  EXPECT_TRUE(scene.KeyDown('A'));
  idle(16);
  EXPECT_TRUE(scene.KeyPressed('A'));
  send(platform::WM_KEYUP, 'A', 1 | platform::kKeyWasDown);
  EXPECT_FALSE(scene.KeyDown('A'));
  // Keys with Alt held reach the scene too; Alt+Enter switches the screen.
  send(platform::WM_SYSKEYDOWN, platform::VK_MENU, 1 | platform::kKeyAltDown);
  EXPECT_TRUE(scene.KeyDown(platform::VK_MENU));
  send(platform::WM_SYSKEYDOWN, platform::VK_RETURN, 1 | platform::kKeyAltDown);
  EXPECT_FALSE(scene.KeyDown(platform::VK_RETURN));
  EXPECT_TRUE(f.FullScreen());
  // Held down, the key repeats: no second switch.
  send(platform::WM_SYSKEYDOWN, platform::VK_RETURN,
       1 | platform::kKeyAltDown | platform::kKeyWasDown);
  EXPECT_TRUE(f.FullScreen());
  send(platform::WM_MOUSEWHEEL, platform::MakeWheelParam(-240), platform::MakePointParam(5, 5));
  send(platform::WM_MOUSEMOVE, 0, platform::MakePointParam(10, 20));
  idle(16);
  EXPECT_EQ(scene.WheelDelta(), -240);
  // A close from the window ends the loop; the game is freed afterwards.
  send(platform::WM_CLOSE);
  EXPECT_TRUE(application.Terminated());
  EXPECT_FALSE(f.WantsIdle());
  EXPECT_NE(ScreenList(), nullptr);
}

TEST_F(FormTest, FullScreenSwitchRemakesTheHandlesAroundTheMedia) {
  TFormView& f = make();
  ASSERT_TRUE(f.Create());
  std::vector<uint32_t> seen;
  f.AddSubclass([&](const Message& m) { seen.push_back(m.msg); });
  log.clear();
  const platform::HWND window = f.Handle(), panel = f.PanelHandle();
  const platform::HWND* windowVar = f.MainWindowHandleVar();
  f.SetFullScreen(true);
  EXPECT_TRUE(f.FullScreen());
  EXPECT_EQ(log, (std::vector<std::string>{"video suspend", "midi close", "midi reopen",
                                           "video resume"}));
  EXPECT_EQ(f.MainWindowHandleVar(), windowVar);
  EXPECT_NE(*windowVar, window);
  EXPECT_EQ(*windowVar, f.Handle());
  EXPECT_NE(*f.MainPanelHandleVar(), panel);
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_FALSE(platform::IsWindow(panel));
  EXPECT_TRUE(platform::IsWindow(f.Handle()));
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_CREATE}));
  log.clear();
  f.SetFullScreen(true);
  EXPECT_TRUE(log.empty());
  f.SetFullScreen(false);
  EXPECT_FALSE(f.FullScreen());
  EXPECT_EQ(log.size(), 4u);
}

TEST_F(FormTest, AFilmSetsTheScreenAndRunsForTheAskedTicks) {
  writeSolidPicture(dir / "game" / "red.dor", 20, 20, 0x0000FF);
  FilmTrack track;
  track.type = 0;
  track.source = "red.dor";
  track.length = 30;
  track.positionFrom = {0, 10};
  track.positionTo = {290, 10};
  ASSERT_TRUE(
      SaveFilmFile(FilmFile{.width = 320, .height = 240, .color = 0x302010, .tracks = {track}},
                   (dir / "game" / "a.zcn").string()));
  TFormView& f = make({.Film = "a.zcn", .Frames = 5, .Screenshot = (dir / "shot.png").string()});
  ASSERT_TRUE(f.Create());
  EXPECT_EQ(ScreenList()->Width(), 320);
  EXPECT_EQ(ScreenList()->Height(), 240);
  EXPECT_EQ(ScreenList()->Color(), 0x302010);
  int idles = 0;
  while (f.WantsIdle() && idles < 100) {
    f.Pace(f.Idle());
    clock.Advance(17);
    ++idles;
  }
  EXPECT_EQ(f.Loop().TickCount(), 5u);
  // The cinema shows frame 0 on two ticks, then three of 17 ms: 51 ms, film
  // tick 3.
  ASSERT_NE(f.FilmPlayer(), nullptr);
  EXPECT_EQ(f.FilmPlayer()->Frame(), 3);
  f.Close();
  TKwMemoryStream png;
  png.LoadFromFile((dir / "shot.png").string());
  TDIBSurface shot;
  LoadPNGSurface(shot, png);
  ASSERT_EQ(shot.Width(), 320);
  ASSERT_EQ(shot.Height(), 240);
  EXPECT_EQ(shot.PixelToColor(shot.GetRawPixel(300, 200)) & 0xFFFFFF, 0x302010u);
  // The picture has moved 30 pixels: 290 * 3 / 29.
  EXPECT_EQ(shot.PixelToColor(shot.GetRawPixel(35, 15)) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(shot.PixelToColor(shot.GetRawPixel(25, 15)) & 0xFFFFFF, 0x302010u);
}

TEST_F(FormTest, AFilmThatCannotBeReadFailsTheStartUp) {
  writeFile(dir / "game" / "bad.zcn", "ZirkCinema108 and nothing more");
  platform::SetMessageBoxHandler(
      [](const std::string&, const std::string&, uint32_t) { return platform::IDOK; });
  TFormView& f = make({.Film = "missing.zcn"});
  EXPECT_FALSE(f.Create());
  form.reset();
  TFormView& g = make({.Film = "bad.zcn"});
  EXPECT_FALSE(g.Create());
  EXPECT_EQ(ScreenList(), nullptr);
  form.reset();
  writeFile(dir / "game" / "notes.txt", "Just some notes, no film at all.");
  TFormView& h = make({.Film = "notes.txt"});
  EXPECT_FALSE(h.Create());
}

TEST_F(FormTest, AnErrorInATickIsShownAndEndsTheGameInOrder) {
  // A wipe whose mask picture is missing fails in the tick that starts it.
  FilmTrack wipe;
  wipe.type = 3;
  wipe.start = 2;
  wipe.length = 10;
  wipe.mask = "nomask.dor";
  ASSERT_TRUE(SaveFilmFile(FilmFile{.width = 64, .height = 48, .tracks = {wipe}},
                           (dir / "game" / "w.zcn").string()));
  TFormView& f = make({.Film = "w.zcn", .Headless = true, .Frames = 30});
  ASSERT_TRUE(f.Create());
  application.MainForm = &f;
  testing::internal::CaptureStderr();
  application.Run();
  const std::string shown = testing::internal::GetCapturedStderr();
  application.MainForm = nullptr;
  EXPECT_EQ(f.ExitCode(), 1);
  // Shown once, as the player's own message.
  EXPECT_EQ(shown.rfind("zirkplayer: ", 0), 0u) << shown;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << shown;
  EXPECT_NE(shown.find("nomask.dor"), std::string::npos) << shown;
  EXPECT_LT(f.Loop().TickCount(), 30u);
  f.Close();
  EXPECT_EQ(ScreenList(), nullptr);
}

// Without a film the menu opens at once, in the middle of the screen: its
// middle row lies on the centre, where the mouse goes down and up.
class MenuFormTest : public FormTest {
 protected:
  std::string clickCentre(uint32_t down, uint32_t up) {
    TFormView& f = make({.Menu = std::vector<std::string>{"A", "B", "C"}});
    EXPECT_TRUE(f.Create());
    for (int i = 0; i < 20; ++i) idle(17);
    TZirkMenu* menu = f.MenuPlayer()->Menu();
    if (!menu) return "no menu";
    // Rows of 24 pixels, 8 apart, 4 of margin; no frame pictures here.
    EXPECT_EQ(menu->GetPropInt(PR_HEIGHT), 3 * 24 + 2 * 8 + 2 * 4);
    EXPECT_EQ(menu->GetPropInt(PR_TOP), (480 - 96) / 2);
    const platform::LPARAM centre = platform::MakePointParam(320, 240);
    testing::internal::CaptureStdout();
    send(platform::WM_MOUSEMOVE, 0, centre);
    send(down, 0, centre);
    idle(17);
    send(up, 0, centre);
    for (int i = 0; i < 20; ++i) idle(17);
    EXPECT_EQ(f.MenuPlayer()->Menu(), nullptr) << "the closed menu is gone";
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(MenuFormTest, AChosenRowIsPrintedAndTheMenuCloses) {
  EXPECT_EQ(clickCentre(platform::WM_LBUTTONDOWN, platform::WM_LBUTTONUP),
            "zirkplayer: chosen: B\n");
}

TEST_F(MenuFormTest, ARightClickClosesTheMenuUnchosen) {
  EXPECT_EQ(clickCentre(platform::WM_RBUTTONDOWN, platform::WM_RBUTTONUP), "");
}

TEST(FilmPlayer, ACinemaPlaysTheFilmOnThePlayedMillisecondsAndStopsOnTheLastFrame) {
  RegisterPlayerModules();
  TempDir dir;
  TVrFileManager files(dir.path().string());
  TVrFileManager::SetGlobal(&files);
  FilmTrack wipe;
  wipe.type = 3;
  wipe.length = 10;
  ASSERT_TRUE(SaveFilmFile(FilmFile{.width = 320, .height = 200, .tracks = {wipe}},
                           (dir / "a.zcn").string()));
  TZirkBaseList scene;
  {
    TFilmPlayer player(scene);
    EXPECT_THROW(player.Load("missing.zcn"), EFilmFormatError);
    EXPECT_EQ(scene.ObjectCount(), 0) << "a failed load leaves no cinema";
    player.Load("a.zcn");
    ASSERT_NE(player.Cinema(), nullptr);
    EXPECT_EQ(scene.Width(), 320);
    EXPECT_EQ(scene.Height(), 200);
    // The cinema applies a fresh film on two ticks before its time moves.
    struct Step {
      uint32_t elapsed;
      int32_t frame;
      bool ended;
    } steps[] = {{16, 0, false}, {16, 0, false},  {17, 1, false}, {8, 2, false},
                 {1, 2, false},  {100, 8, false}, {100, 9, true}, {1000, 9, true}};
    for (const Step& s : steps) {
      GameTime().ElapsedTime = s.elapsed;
      scene.TickObjects();
      EXPECT_EQ(player.Frame(), s.frame) << s.elapsed;
      EXPECT_EQ(player.Ended(), s.ended) << s.elapsed;
    }
    EXPECT_EQ(player.Cinema()->TimeMs(), 226) << "the time stops at the end";
  }
  EXPECT_EQ(scene.ObjectCount(), 0) << "the player takes its cinema along";
  GameTime() = {};
  TVrFileManager::SetGlobal(nullptr);
}

}  // namespace
}  // namespace zirk::test

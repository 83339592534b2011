// The player's media wiring: the main window's hooks over the real media
// managers, the sound switch, and the debug log of the script step.

#include "app/mediahooks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/application.h"
#include "app/mainloop.h"
#include "app/startup.h"
#include "app/view.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media/zirkdll.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "scene/events.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

class PlayerMediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nobody listens: the sound device is SDL's silent one.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    RegisterPlayerModules();
    ASSERT_EQ(LoadMediaDll(ZIRK_MEDIALIB_DIR), TMediaDllStatus::mdsOk);
    std::filesystem::create_directories(dir / "prog");
    std::filesystem::copy_file(dataPath("audio/vorbis-stereo-44100.ogg"), dir / "music.ogg");
    platform::SetClock(&clock);
    InstallMediaHooks();
  }
  void TearDown() override {
    form.reset();
    RemoveMediaHooks();
    FinalDll();
    platform::SetClock(nullptr);
  }
  TFormView& make(bool directSound) {
    writeFile(dir / "prog" / "game.ini",
              std::string("[Sound]\nDirectSound=") + (directSound ? "1" : "0") + "\n");
    TViewOptions options;
    options.ProgramFolder = dir / "prog";
    options.Folders = {dir.path().string()};
    options.NoWindow = true;
    form = std::make_unique<TFormView>(application, std::move(options));
    return *form;
  }
  void send(uint32_t msg, platform::WPARAM w = 0) {
    form->WndProc(platform::Message{form->Handle(), msg, w, 0});
  }

  TempDir dir;
  platform::ManualClock clock{5000};
  TApplication application{"/opt/zirk/zirkplayer"};
  std::unique_ptr<TFormView> form;
};

TEST_F(PlayerMediaTest, TheWindowSuspendsAndResumesWhatPlays) {
  for (const bool directSound : {true, false}) {
    SCOPED_TRACE(directSound);
    TFormView& f = make(directSound);
    ASSERT_TRUE(f.Create());
    ASSERT_TRUE(OggMan && VideoMan && MidiMan);
    TDMediaItem* item = OggMan->Add("music.ogg");
    item->Play();
    ASSERT_TRUE(item->IsPlaying());

    send(platform::WM_ACTIVATEAPP, 0);
    EXPECT_FALSE(item->IsPlaying());
    EXPECT_TRUE(VideoMan->Suspended());
    send(platform::WM_ACTIVATEAPP, 1);
    EXPECT_TRUE(item->IsPlaying());
    EXPECT_FALSE(VideoMan->Suspended());

    send(platform::WM_ENTERSIZEMOVE);
    EXPECT_FALSE(item->IsPlaying());
    send(platform::WM_EXITSIZEMOVE);
    EXPECT_TRUE(item->IsPlaying());

    // The scene's sound switch reaches the managers.
    ScreenList()->SetMediaEnabled(false);
    EXPECT_FALSE(item->IsPlaying());
    EXPECT_FALSE(MidiMan->Enabled());
    send(platform::WM_ACTIVATEAPP, 0);
    send(platform::WM_ACTIVATEAPP, 1);
    EXPECT_FALSE(item->IsPlaying()) << "focus does not bring back switched-off sound";
    ScreenList()->SetMediaEnabled(true);
    EXPECT_TRUE(item->IsPlaying());

    f.Close();
    EXPECT_EQ(OggMan, nullptr);
    EXPECT_EQ(VideoMan, nullptr);
    form.reset();
  }
}

TEST(ScriptLog, EachEventTheScriptStepRunsIsWritten) {
  platform::ManualClock clock{0x1234};
  platform::SetClock(&clock);
  const std::filesystem::path folder = std::string(ZIRK_FAKE_DLL_DIR) + "/ok";
  std::filesystem::remove(folder / "dbglog.txt");
  ASSERT_EQ(LoadMediaDll(folder), TMediaDllStatus::mdsOk);
  ASSERT_TRUE(LogDllLoaded());
  {
    TProject project;
    SetCurrentProject(&project);
    TZirkBaseList scene;
    TMainLoop loop(&scene);
    scene.Events().PostEvent(nullptr, "*start", 43);
    scene.Events().PostEvent(nullptr, "*next", 7);
    loop.Tick();
    EXPECT_EQ(scene.Events().Count(), 0);
    SetCurrentProject(nullptr);
  }
  FinalDll();
  platform::SetClock(nullptr);
  std::ifstream file(folder / "dbglog.txt");
  std::string first, second;
  std::getline(file, first);
  std::getline(file, second);
  EXPECT_EQ(first, "00001234 : <Event>*start(43)");
  EXPECT_EQ(second, "00001234 : <Event>*next(7)");
}

}  // namespace
}  // namespace zirk::test

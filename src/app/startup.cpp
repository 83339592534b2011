#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/application.h"
#include "app/cmdline.h"
#include "app/instance.h"
#include "app/mediahooks.h"
#include "app/view.h"
#include "base/utils.h"
#include "imaging/GIFImage.h"
#include "imaging/KwPNG.h"
#include "imaging/dorvs.h"
#include "imaging/maskwipe.h"
#include "media/zirkdll.h"
#include "objects/box.h"
#include "objects/button.h"
#include "objects/cinema.h"
#include "objects/dorvcache.h"
#include "objects/fire.h"
#include "objects/gauge.h"
#include "objects/http.h"
#include "objects/images.h"
#include "objects/mapimage.h"
#include "objects/menu.h"
#include "objects/motion.h"
#include "objects/particle.h"
#include "objects/prevmenu.h"
#include "objects/propmotion.h"
#include "objects/scrollbar.h"
#include "objects/slider.h"
#include "objects/sound.h"
#include "objects/tile.h"
#include "objects/timer.h"
#include "objects/tracks.h"
#include "objects/video.h"
#include "objects/wave.h"
#include "platform/audio.h"
#include "platform/dynlib.h"
#include "platform/window.h"
#include "scene/flip.h"

namespace zirk {

void RegisterPlayerModules() {
  // Layered pictures, mask transitions and the image cache all unscramble
  // with the code of the project current when they load.
  RegisterDorvFormats(ProjectIdentCode);
  RegisterKwPNG();
  RegisterGIFImage();
  RegisterDorvCache();
  RegisterZirkImages();
  RegisterZirkTile();
  RegisterZirkSlider();
  RegisterZirkScrollbar();
  RegisterZirkGauge();
  RegisterZirkButton();
  RegisterZirkBox();
  RegisterZirkMenu();
  RegisterZirkFire();
  RegisterZirkWave();
  RegisterZirkParticle();
  RegisterZirkMotion();
  RegisterZirkSound();
  RegisterZirkVideo();
  RegisterFilmTracks();
  RegisterZirkTimer();
  RegisterZirkCinema();
  RegisterZirkMapImage();
  RegisterZirkPrevMenu();
  RegisterZirkPropMotion();
  RegisterZirkHttp([] { return Application && Application->Terminated(); });
  // A flip that names a mask picture reveals the new screen by its grey levels.
  SetWipeFactory(MakeMaskWipeFactory(ProjectIdentCode));
}

bool InitializeModules() {
  TraceHook("InitializeModules", true);
  RegisterPlayerModules();
  return InitDll();
}

void FinalizeModules() {
  TraceHook("FinalizeModules", true);
  FinalDll();
}

int RunPlayer(const std::vector<std::string>& args) {
  TCommandLine line;
  try {
    line = ParseCommandLine(args);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "zirkplayer: %s\n%s", e.what(), CommandLineUsage().c_str());
    return 2;
  }
  if (line.Help) {
    std::fputs(CommandLineUsage().c_str(), stdout);
    return 0;
  }
  if (line.Headless) {
    // Nobody hears a headless run: its sound goes to SDL's silent driver
    // unless the caller chose one.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
  } else {
    // Without a display a windowed player would run unseen for ever: it
    // says so before anything starts.
    if (const std::string problem = platform::DisplayProblem(); !problem.empty()) {
      std::fprintf(stderr, "zirkplayer: cannot open a window: %s; --headless plays without one\n",
                   problem.c_str());
      return 1;
    }
    platform::InstallWindowMessageBox();
  }
  platform::ProcessAudioDevice().SetNoDeviceNotice([](const std::string&) {
    std::fputs("zirkplayer: no sound device; playing without sound\n", stderr);
  });
  if (!InitializeModules()) return 1;

  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path programFolder = platform::programFolder();
  const std::filesystem::path base =
      line.Folders.empty() ? programFolder : std::filesystem::path(line.Folders.front());
  std::unique_ptr<TInstanceLock> lock = TInstanceLock::Acquire(InstanceKey(base));
  if (!lock) {
    std::fprintf(stderr, "zirkplayer: another player already runs the game in %s\n",
                 base.string().c_str());
    FinalizeModules();
    return 3;
  }
  if (!lock->Held())
    std::fprintf(stderr,
                 "zirkplayer: cannot lock the game folder (%s); a second player may run it\n",
                 lock->Problem().c_str());

  int code;
  {
    InstallMediaHooks();
    TApplication application(exe.string());
    Application = &application;
    TViewOptions options;
    options.ProgramFolder = programFolder;
    options.Folders = line.Folders;
    options.Film = line.Film;
    options.Movie = line.Movie;
    options.FilmShown = line.FilmShown;
    options.MovieShown = line.MovieShown;
    options.Menu = line.Menu;
    options.Headless = line.Headless;
    options.Frames = line.Frames;
    options.Screenshot = line.Screenshot;
    TFormView form(application, std::move(options));
    application.MainForm = &form;
    if (form.Create()) application.Run();
    form.Close();
    code = form.ExitCode();
    if (code == 0 && line.Screenshot) std::printf("%s\n", line.Screenshot->c_str());
    application.MainForm = nullptr;
    Application = nullptr;
    RemoveMediaHooks();
  }
  FinalizeModules();
  return code;
}

}  // namespace zirk

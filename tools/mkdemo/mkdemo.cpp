// mkdemo: writes the demo game folder: layered pictures drawn here and
// saved with the player's own layered-image writer, and the film that plays
// them, written with the film writer the tests use; demomedia.cpp makes its
// sound and movie, demomenu.cpp the pictures of its pop-up menu. The output depends on nothing but
// these files, so the same folder comes out every time. Usage: mkdemo FOLDER. Exit status 0 on
// success, 1 when a file cannot be written, 2 on wrong usage.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/filmwriter.h"
#include "tools/mkdemo/demomedia.h"
#include "tools/mkdemo/demomenu.h"
#include "tools/mkdemo/demopicture.h"

namespace {

using namespace zirk;
using namespace zirk::demo;
using test::FilmFile;
using test::FilmTrack;

constexpr double kPi = 3.14159265358979323846;

// A diagonal checker of two tones with a light seam: the background tile.
Painter checker(uint32_t dark, uint32_t light) {
  return [=](int32_t x, int32_t y, int32_t) {
    const bool odd = ((x / 16) + (y / 16)) % 2 != 0;
    uint32_t c = odd ? light : dark;
    if ((x + y) % 32 == 0) c = mix(c, 0xFFFFFF, 0.35);
    return Pixel{c};
  };
}

// Soft-edged disc, lit from the upper left.
Pixel sphere(int32_t x, int32_t y, int32_t size, uint32_t base) {
  const double r = size / 2.0;
  const double dx = x + 0.5 - r, dy = y + 0.5 - r;
  const double d = std::sqrt(dx * dx + dy * dy);
  const double edge = std::clamp(r - d, 0.0, 1.0);
  const double lx = x + 0.5 - r * 0.65, ly = y + 0.5 - r * 0.65;
  const double light = std::clamp(1.0 - std::sqrt(lx * lx + ly * ly) / (r * 1.3), 0.0, 1.0);
  const uint32_t shade = mix(mix(base, 0x000000, 0.45), mix(base, 0xFFFFFF, 0.6), light);
  return Pixel{shade, static_cast<uint8_t>(std::lround(edge * 255))};
}

Pixel star(int32_t x, int32_t y, int32_t size) {
  const double c = size / 2.0;
  const double dx = x + 0.5 - c, dy = y + 0.5 - c;
  const double angle = std::atan2(dy, dx) + kPi / 2;
  const double d = std::sqrt(dx * dx + dy * dy);
  // The outline's radius swings between the points and the notches.
  const double t = std::fabs(std::fmod(angle * 5 / (2 * kPi) + 100.5, 1.0) - 0.5) * 2;
  const double radius = c * (0.42 + 0.55 * (1 - t));
  if (d > radius) return Pixel{kKey};
  return Pixel{mix(0x00D8FF, 0x0070FF, d / radius)};
}

Pixel panel(int32_t x, int32_t y, int32_t width, int32_t height) {
  const uint32_t top = 0x8A3A1E, bottom = 0x3A120A;
  uint32_t c = mix(top, bottom, static_cast<double>(y) / height);
  const bool border = x < 4 || y < 4 || x >= width - 4 || y >= height - 4;
  if (border) c = 0xE0C080;
  // Lines standing in for the text of a message window.
  for (int32_t line = 0; line < 3; ++line) {
    const int32_t ly = 24 + line * 24;
    const int32_t length = width - 40 - line * 50;
    if (y >= ly && y < ly + 8 && x >= 20 && x < 20 + length) c = 0xF0F0F0;
  }
  return Pixel{c};
}

// A ring of eight dots with a bright one going round: one frame a step.
Pixel spinner(int32_t x, int32_t y, int32_t frame, int32_t size) {
  const double c = size / 2.0;
  for (int32_t k = 0; k < 8; ++k) {
    const double a = k * kPi / 4;
    const double cx = c + std::cos(a) * size * 0.34, cy = c + std::sin(a) * size * 0.34;
    const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
    if (dx * dx + dy * dy <= 64.0) {
      const int32_t age = (frame - k + 8) % 8;
      return Pixel{mix(0x40FF40, 0x105010, age / 7.0)};
    }
  }
  return Pixel{kKey};
}

FilmTrack image(const std::string& source, int32_t start, int32_t length, int32_t x, int32_t y) {
  FilmTrack t;
  t.type = 0;
  t.source = source;
  t.start = start;
  t.length = length;
  t.positionFrom = t.positionTo = {x, y};
  return t;
}

FilmTrack tile(const std::string& source, int32_t start, int32_t length) {
  FilmTrack t = image(source, start, length, 0, 0);
  t.type = 5;
  t.widthFrom = t.widthTo = 640;
  t.heightFrom = t.heightTo = 480;
  return t;
}

// A track continuing `parent` (its start and starting values) for `length`.
FilmTrack chained(const FilmTrack& parent, int32_t parentIndex, int32_t length) {
  FilmTrack t = parent;
  t.parent = parentIndex;
  t.length = length;
  t.otherScreen = false;
  return t;
}

FilmFile demoFilm() {
  FilmFile film;
  film.width = 640;
  film.height = 480;
  film.color = 0x202020;
  auto add = [&](const FilmTrack& t) {
    film.tracks.push_back(t);
    return static_cast<int32_t>(film.tracks.size()) - 1;
  };
  constexpr int32_t kWipeStart = 300, kWipeLength = 60;
  constexpr int32_t kSceneOneEnd = kWipeStart + kWipeLength;
  constexpr int32_t kEnd = 600;

  // Scene one: a scrolling checker, a bouncing ball, a turning star, a
  // panel fading in and out and a spinner.
  FilmTrack ground = tile("tile1.dor", 0, kSceneOneEnd);
  ground.scrollXTo = 320;
  ground.scrollYTo = 160;
  add(ground);

  FilmTrack panelIn = image("panel.dor", 20, 100, 200, 40);
  panelIn.alphaFrom = 1;
  panelIn.alphaTo = 255;
  panelIn.priority = 2;
  const int32_t panelIndex = add(panelIn);
  FilmTrack panelStay = chained(panelIn, panelIndex, 80);
  const int32_t stayIndex = add(panelStay);
  FilmTrack panelOut = chained(panelStay, stayIndex, 100);
  panelOut.alphaTo = 1;
  add(panelOut);

  FilmTrack ballUp = image("ball.dor", 0, 150, 40, 380);
  ballUp.positionTo = {300, 120};
  ballUp.positionYEasing = 2;  // slowing towards the top
  ballUp.priority = 3;
  const int32_t ballIndex = add(ballUp);
  FilmTrack ballDown = chained(ballUp, ballIndex, 150);
  ballDown.positionTo = {560, 380};
  ballDown.positionYEasing = 1;  // falling faster
  add(ballDown);

  FilmTrack starTurn = image("star.dor", 0, kSceneOneEnd, 480, 140);
  starTurn.anchor = {48, 48};
  starTurn.rotationTo = 720;
  starTurn.priority = 1;
  add(starTurn);

  FilmTrack spin = image("anim.dor", 0, kSceneOneEnd, 100, 300);
  spin.loopLength = 48;  // eight frames of 100 ms, again and again
  spin.priority = 1;
  add(spin);

  // A title in a framed box along the bottom: the box opens out from its
  // middle, then the caption fades in. The face named is the usual Windows
  // one; the player's Japanese face stands in for it.
  FilmTrack titleBox;
  titleBox.type = 2;
  titleBox.start = 10;
  titleBox.length = 40;
  titleBox.positionFrom = {310, 396};
  titleBox.positionTo = {110, 396};
  titleBox.widthFrom = 20;
  titleBox.widthTo = 420;
  titleBox.heightFrom = titleBox.heightTo = 64;
  titleBox.alphaFrom = titleBox.alphaTo = 200;
  titleBox.colorFrom = 0x402010;
  titleBox.colorTo = 0x201008;
  titleBox.borderWidthFrom = titleBox.borderWidthTo = 3;
  titleBox.borderColorFrom = titleBox.borderColorTo = 0x40C0E0;
  titleBox.priority = 4;
  const int32_t titleBoxIndex = add(titleBox);
  add(chained(titleBox, titleBoxIndex, kSceneOneEnd - 50));

  FilmTrack title;
  title.type = 1;
  title.start = 50;
  title.length = 30;
  title.text = "ZirkPlayer \x83\x66\x83\x82";                            // "デモ" in Shift-JIS
  title.fontName = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";  // "ＭＳ ゴシック"
  title.fontHeight = 32;
  title.antialias = 1;
  title.fontColor = 0xF0F0F0;
  // 11 half-width and 2 full-width characters: 240 pixels, centred in the box.
  title.positionFrom = title.positionTo = {200, 412};
  title.alphaFrom = 1;
  title.alphaTo = 255;
  title.priority = 5;
  const int32_t titleIndex = add(title);
  add(chained(title, titleIndex, kSceneOneEnd - 80));

  FilmTrack wipe;
  wipe.type = 3;
  wipe.start = kWipeStart;
  wipe.length = kWipeLength;
  wipe.wipeKind = 1;
  add(wipe);

  // Scene two, drawn on the other screen while the wipe blends into it and
  // on the shown screen afterwards: a warm checker scrolling the other way,
  // the star growing, and the spinner twice its size.
  FilmTrack ground2 = tile("tile2.dor", kWipeStart, kWipeLength);
  ground2.otherScreen = true;
  ground2.scrollXTo = -40;
  const int32_t ground2Index = add(ground2);
  FilmTrack ground2After = chained(ground2, ground2Index, kEnd - kSceneOneEnd);
  ground2After.scrollXTo = -40 - 160;
  ground2After.scrollYTo = 120;
  add(ground2After);

  FilmTrack grow = image("star.dor", kWipeStart, kWipeLength, 320, 240);
  grow.otherScreen = true;
  grow.anchor = {48, 48};
  grow.scaleXFrom = grow.scaleYFrom = 0.5;
  grow.scaleXTo = grow.scaleYTo = 0.8;
  grow.priority = 1;
  const int32_t growIndex = add(grow);
  FilmTrack growAfter = chained(grow, growIndex, kEnd - kSceneOneEnd);
  growAfter.scaleXTo = growAfter.scaleYTo = 2.0;
  growAfter.rotationTo = -360;
  add(growAfter);

  FilmTrack bigSpin = image("anim.dor", kWipeStart, kWipeLength, 440, 300);
  bigSpin.otherScreen = true;
  bigSpin.loopLength = 48;
  bigSpin.scaleXFrom = bigSpin.scaleXTo = bigSpin.scaleYFrom = bigSpin.scaleYTo = 2.0;
  bigSpin.priority = 2;
  const int32_t bigIndex = add(bigSpin);
  add(chained(bigSpin, bigIndex, kEnd - kSceneOneEnd));

  // Snow over the first scene: a flake every 40 to 80 ms somewhere along
  // the top, falling a little over a pixel a frame and swaying.
  FilmTrack snow;
  snow.type = 6;
  snow.length = kSceneOneEnd;
  snow.source = "snow.dor";
  snow.partMotion = 1;
  snow.widthFrom = snow.widthTo = 640;
  snow.heightFrom = snow.heightTo = 480;
  snow.intervalFrom = snow.intervalTo = 60;
  snow.spreadFrom = snow.spreadTo = 40;
  snow.value2From = snow.value2To = -8;
  snow.range1From = snow.range1To = 640;
  snow.param1From = snow.param1To = 1.2;
  snow.param3From = snow.param3To = 12;
  snow.priority = 3;
  add(snow);

  // A fire along the bottom of the second scene, growing taller.
  FilmTrack fire;
  fire.type = 7;
  fire.start = kWipeStart;
  fire.length = kEnd - kWipeStart;
  fire.otherScreen = true;
  fire.positionFrom = fire.positionTo = {0, 360};
  fire.widthFrom = fire.widthTo = 160;
  fire.heightFrom = fire.heightTo = 30;
  fire.zoomYFrom = 2.0;
  fire.power = 100;
  fire.priority = 4;
  add(fire);

  FilmTrack ball2 = image("ball.dor", kSceneOneEnd, kEnd - kSceneOneEnd, 600, 60);
  ball2.positionTo = {60, 200};
  ball2.alphaFrom = 255;
  ball2.alphaTo = 96;
  ball2.priority = 3;
  add(ball2);
  return film;
}

void build(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  writePicture(folder / "tile1.dor", {64, 64}, checker(0x6A3A18, 0x8A5428));
  writePicture(folder / "tile2.dor", {64, 64}, checker(0x183A6A, 0x28548A));
  writePicture(folder / "snow.dor", {8, 8, 1, 100, true},
               [](int32_t x, int32_t y, int32_t) { return sphere(x, y, 8, 0xFFF0E8); });
  writePicture(folder / "ball.dor", {64, 64, 1, 100, true},
               [](int32_t x, int32_t y, int32_t) { return sphere(x, y, 64, 0x3050E0); });
  writePicture(folder / "star.dor", {96, 96, 1, 100, false, static_cast<int32_t>(kKey)},
               [](int32_t x, int32_t y, int32_t) { return star(x, y, 96); });
  writePicture(folder / "panel.dor", {240, 100},
               [](int32_t x, int32_t y, int32_t) { return panel(x, y, 240, 100); });
  writePicture(folder / "anim.dor", {80, 80, 8, 100, false, static_cast<int32_t>(kKey)},
               [](int32_t x, int32_t y, int32_t f) { return spinner(x, y, f, 80); });
  demo::WriteDemoMedia(folder);
  demo::WriteMenuPictures(folder);
  FilmFile film = demoFilm();
  demo::AddDemoSoundTracks(film, 300, 600);
  if (!test::SaveFilmFile(film, (folder / "demo.zcn").string()))
    throw std::runtime_error("cannot write " + (folder / "demo.zcn").string());
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage =
      "usage: mkdemo FOLDER\n"
      "  writes the demo game folder: its pictures, film, music, MIDI tune and movie\n";
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "-h" || first == "--help")) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc != 2 || (first.size() > 1 && first[0] == '-')) {
    std::fputs(usage, stderr);
    return 2;
  }
  try {
    build(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mkdemo: %s\n", e.what());
    return 1;
  }
  return 0;
}

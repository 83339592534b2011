#pragma once
// Writes film and motion files byte by byte, in the layout of any version
// from 100 to 108, for tests and for the demo builder. Times are given in
// ticks and written in the unit of the chosen version (1/30 s before 107);
// fields a version does not have are left out.

#include <cstdint>
#include <string>
#include <vector>

namespace zirk::test {

struct FilmPoint {
  int32_t x = 0, y = 0;
};

struct FilmTrack {
  // 0 image, 1 label, 2 box, 3 wipe, 5 tile, 6 particle, 7 fire; other
  // kinds take `raw`.
  uint8_t type = 0;
  int32_t parent = -1;
  int32_t length = 0, reserved = 0, start = 0, loopLength = 0, priority = 0;
  bool flipH = false, flipV = false, otherScreen = false;

  // Image, label and tile tracks (box tracks: position, clip, alpha).
  FilmPoint anchor, positionFrom, positionTo;
  uint8_t positionXEasing = 0, positionYEasing = 0;
  int32_t rotationFrom = 0, rotationTo = 0;
  double scaleXFrom = 1.0, scaleXTo = 1.0, scaleYFrom = 1.0, scaleYTo = 1.0;
  uint8_t scaleXEasing = 0, scaleYEasing = 0;
  int32_t alphaFrom = 0, alphaTo = 0;
  uint8_t rotationEasing = 0;
  FilmPoint clipPositionFrom, clipSizeFrom, clipPositionTo, clipSizeTo;
  uint8_t clipXEasing = 0, clipYEasing = 0;
  std::string source;  // as stored: relative to the film's folder

  // Tile tracks.
  int32_t widthFrom = 0, heightFrom = 0, widthTo = 0, heightTo = 0;
  int32_t scrollXFrom = 0, scrollYFrom = 0, scrollXTo = 0, scrollYTo = 0;
  uint8_t scrollXEasing = 0, scrollYEasing = 0;
  int32_t distanceX = 0, distanceY = 0;

  // Box tracks (and their size in widthFrom .. heightTo).
  int32_t colorFrom = 0, colorTo = 0;
  int32_t borderWidthFrom = 0, borderWidthTo = 0;
  int32_t borderColorFrom = 0, borderColorTo = 0;

  // Label tracks.
  std::string text;
  uint8_t antialias = 0;
  std::string fontName;
  int32_t fontHeight = 12, lineSpace = 0;
  uint8_t fontStyle = 0;
  int32_t fontColor = 0xFFFFFF;
  uint8_t hAlign = 0;

  // Particle tracks (their rectangle in positionFrom .. heightTo, with the
  // clip and alpha above; the picture in `source`).
  uint8_t partMotion = 0;
  int32_t index = 0;
  int32_t intervalFrom = 100, intervalTo = 100, spreadFrom = 1, spreadTo = 1;
  int32_t value1From = 0, value2From = 0, value1To = 0, value2To = 0;
  int32_t range1From = 1, range2From = 1, range1To = 1, range2To = 1;
  uint8_t value1Easing = 0, value2Easing = 0;
  double param1From = 0, param2From = 0, param3From = 0;
  double param1To = 0, param2To = 0, param3To = 0;

  // Fire tracks (their rectangle and clip as particle tracks).
  double zoomXFrom = 4.0, zoomYFrom = 4.0, zoomXTo = 4.0, zoomYTo = 4.0;
  uint8_t zoomXEasing = 0, zoomYEasing = 0;
  int32_t power = 100;

  // Wipe tracks.
  uint8_t wipeKind = 1;
  std::string mask;
  int32_t param0 = 0, param1 = 0;
  uint8_t wipeFlag = 0;

  // The kind's own bytes after the common part, for kinds not listed above.
  std::string raw;
};

struct FilmFile {
  std::string kind = "ZirkCinema";  // or "ZirkMotion"
  int32_t version = 108;
  int32_t width = 640, height = 480, color = -1;
  bool relative = false;
  FilmPoint origin;
  int32_t loopStart = 0;  // ticks
  std::vector<FilmTrack> tracks;
};

// The file's bytes.
std::string WriteFilmFile(const FilmFile& film);
// The record of one track after its type byte.
std::string WriteFilmTrack(const FilmTrack& track, int32_t version);
// Writes the bytes to a host file; false when it cannot.
bool SaveFilmFile(const FilmFile& film, const std::string& hostPath);

}  // namespace zirk::test

namespace zirk::test {

// A sound track (type 4): its record after the common part goes in `raw`.
struct FilmSound {
  std::string file;                            // as stored: relative to the film's folder
  int32_t volumeFrom = 1000, volumeTo = 1000;  // per mille (from version 108)
  int32_t balanceFrom = 0, balanceTo = 0;
  uint8_t volumeEasing = 0, balanceEasing = 0;
};
FilmTrack SoundTrack(const FilmSound& sound, int32_t start, int32_t length);

}  // namespace zirk::test

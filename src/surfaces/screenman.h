#pragma once
// The screen manager as far as pictures need it: the bit depth of display
// surfaces and whether they are plain memory surfaces. The display surfaces
// of this system are always 32-bit memory surfaces.

namespace zirk {

class TScreenManager {
 public:
  int SurfaceBitDepth = 32;  // 15, 16, 24 or 32
  bool MemorySurfaces = true;
};

// The program's screen manager, owned by start-up code; nullptr before it is
// made and after it is freed.
inline TScreenManager* ScreenMan = nullptr;

// Depth of display surfaces: the manager's, or 32 without one.
inline int ScreenSurfaceDepth() {
  return ScreenMan ? ScreenMan->SurfaceBitDepth : 32;
}
// Whether display surfaces are memory surfaces; true without a manager.
inline bool ScreenUsesMemorySurfaces() {
  return ScreenMan ? ScreenMan->MemorySurfaces : true;
}

}  // namespace zirk

#pragma once
// Small services shared by the drawing and start-up code.

#include <cstdint>

namespace zirk {

// Each of R, G and B of a 0x00BBGGRR colour multiplied by factor/256 (the
// additive fills pass alpha - 256). The factor is held to 0..256, so a
// channel never exceeds its byte and the top byte stays 0.
int32_t ScaleColor(int32_t color, int32_t factor);

// The trace routine called around start-up and shut-down steps. It has no
// effect; the call sites stay so that the step order reads as it runs.
void TraceHook(const char* stepName, bool flag);

}  // namespace zirk

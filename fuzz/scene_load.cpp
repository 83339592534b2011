// Saved scenes, run-time expressions and status records read from
// untrusted bytes. The first byte picks the reader and the save version.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/vocab.h"
#include "objects/box.h"
#include "scene/cabinet.h"
#include "scene/factory.h"
#include "scene/zscene.h"
#include "script/parser.h"
#include "script/project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  static const bool registered = [] {
    RegisterKind(LT_CABINET, [](TZirkBaseList& s) { return std::make_unique<TZirkCabinet>(s); });
    RegisterZirkBox();
    return true;
  }();
  (void)registered;
  if (size < 1) return 0;
  const int32_t version = 100 + data[0] % 40;
  TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  try {
    switch (data[0] % 3) {
      case 0: {
        TZirkBaseList scene(64, 48);
        scene.LoadFromStream(stream, version);
        scene.TickObjects();
        scene.Paint();
        TKwMemoryStream again;
        scene.SaveToStream(again);
        break;
      }
      case 1: {
        TZirkParser parser;
        parser.LoadFromStream(stream);
        parser.ExecuteExpression();
        break;
      }
      default: {
        TProject project;
        project.LoadStatusData(stream);
        break;
      }
    }
  } catch (const zirk::Exception&) {
  }
  return 0;
}

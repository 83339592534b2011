#pragma once
// The script built-ins that reach into the scene: list-box row checks by
// object name, the @CGDither setter and the purge after a layered image
// file was written. They act on the global scene.

#include <cstdint>
#include <string>

namespace zirk {

// The check flag of a row of the named list box; false when there is no
// such object or row.
bool GetRowChecked(const std::string& objectName, int32_t row);
void SetRowChecked(const std::string& objectName, int32_t row, bool checked);

// @CGDither: stores the flag, hands it to the image cache and redraws both
// screens.
void SetImageCacheMode(bool dither);

// After a script wrote a layered image file: drop the parked cache copies
// of that name so the next acquire reads the new file.
void PurgeWrittenImage(const std::string& fileName);

}  // namespace zirk

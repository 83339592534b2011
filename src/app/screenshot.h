#pragma once
// The picture on screen written as a PNG file. The file carries no time
// stamp, so the same picture always gives the same bytes.

#include <string>

namespace zirk {

class TCustomDIBX;
class TKwStream;

void SaveScreenshot(const TCustomDIBX& picture, TKwStream& stream);
// Raises the stream's error when the file cannot be written.
void SaveScreenshot(const TCustomDIBX& picture, const std::string& hostPath);

}  // namespace zirk

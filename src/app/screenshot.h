#pragma once
// The picture on screen written as a PNG file. The file carries no time
// stamp, so the same picture always gives the same bytes.

#include <string>

namespace zirk {

class TCustomDIBX;
class TKwStream;

void SaveScreenshot(const TCustomDIBX& picture, TKwStream& stream);
// A screenshot that cannot be written (a full disk) raises naming the file
// and leaves the one there was before as it was.
void SaveScreenshot(const TCustomDIBX& picture, const std::string& hostPath);

}  // namespace zirk

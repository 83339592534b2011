// Built without a CD backend: there are no drives and nothing opens.
#include "platform/cdaudio.h"

namespace zirk::platform {

bool CdBackendAvailable() {
  return false;
}

std::vector<std::string> CdDriveList() {
  return {};
}

std::unique_ptr<CdMedium> OpenCdMedium(const std::string&, uint32_t& error) {
  error = MCIERR_INVALID_DEVICE_NAME;
  return nullptr;
}

}  // namespace zirk::platform

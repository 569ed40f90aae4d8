#include "hid/device_match.h"

namespace gps {

bool IsDevice(const std::optional<HidAttributes>& attributes, uint16_t vendorId,
              uint16_t productId) {
  return attributes && attributes->vendorId == vendorId && attributes->productId == productId;
}

std::vector<std::string> MatchingInterfaces(HidBackend& backend, uint16_t vendorId,
                                            uint16_t productId, std::size_t limit) {
  std::vector<std::string> paths;
  if (limit == 0) return paths;
  for (const std::string& path : backend.EnumerateInterfaces()) {
    if (!IsDevice(backend.QueryAttributes(path), vendorId, productId)) continue;
    paths.push_back(path);
    if (paths.size() == limit) break;
  }
  return paths;
}

}  // namespace gps

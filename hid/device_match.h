// Which of the enumerated HID interfaces are the device: the one rule of
// vendor and product that the link's Open, --list and the dialogs' watch
// share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace gps {

// True when the queried attributes are those of vendor `vendorId` and
// product `productId`; the version is not looked at. An interface that could
// not be queried (no attributes) is never the device.
bool IsDevice(const std::optional<HidAttributes>& attributes, uint16_t vendorId,
              uint16_t productId);

// The paths of the enumerated interfaces whose vendor and product identifiers
// are `vendorId` and `productId` (IsDevice), in the platform's order, at
// most `limit` of them: interfaces after the last one taken are not queried.
std::vector<std::string> MatchingInterfaces(
    HidBackend& backend, uint16_t vendorId, uint16_t productId,
    std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace gps

// Where the update puts things in the device's flash.
#pragma once

#include <climits>
#include <cstdint>

// Emscripten's C library defines PAGE_SIZE in <limits.h> (the size of a
// WebAssembly memory page). That header is guarded, so once it is in, it is
// never read again: dropping its macro here leaves the name to the flash page
// below in every file that includes this one.
#undef PAGE_SIZE

namespace gps {

constexpr uint32_t SECTOR_SIZE = 4096;
constexpr uint32_t PAGE_SIZE = 256;
constexpr uint32_t HEADER_ADDRESS = 0x8000;    // sector 8, page 128
constexpr uint32_t DATABASE_ADDRESS = 0xA000;  // sector 10, page 160
// The device's flash: 16 MiB, addressed with three bytes.
constexpr uint32_t FLASH_SIZE = 0x1000000;
// The image fills the flash from DATABASE_ADDRESS to its end.
constexpr uint32_t MAX_DATABASE_SIZE = FLASH_SIZE - DATABASE_ADDRESS;

}  // namespace gps

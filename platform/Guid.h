// Guid: new unique identifiers from libuuid.
#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// Fills `out` with a new random GUID; false when the generator fails.
[[nodiscard]] bool NewGuid(std::array<std::uint8_t, 16>& out);

}  // namespace quillon

#include "platform/Guid.h"

#include <uuid/uuid.h>

#include <cstring>

namespace quillon {

bool NewGuid(std::array<std::uint8_t, 16>& out) {
  uuid_t id;
  uuid_generate_random(id);
  std::memcpy(out.data(), id, out.size());
  // An all-zero value is what uuid_generate leaves when it cannot work.
  for (std::uint8_t b : out)
    if (b) return true;
  return false;
}

}  // namespace quillon

#include "foundation/Encoding.h"

#include "foundation/General.h"
#include "platform/Object.h"
#include "platform/SqlFormatter.h"

namespace quillon::Encoding {

namespace {
// The formatter is created on first use and kept for the thread.
const SqlFormatter& formatter() {
  auto& slot = General::ThreadState().sqlFormatter;
  if (!slot) slot = Registry::instance().create("Basalt.SqlFormatter");
  return static_cast<const SqlFormatter&>(*slot);
}
}  // namespace

std::string SqlText(const std::string& value) { return formatter().Text(value); }
std::string SqlLikePattern(const std::string& value) { return formatter().LikePattern(value); }
std::string SqlLong(std::int32_t value) { return formatter().Long(value); }
std::string SqlByte(std::uint8_t value) { return formatter().Byte(value); }

}  // namespace quillon::Encoding

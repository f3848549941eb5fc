// SqlFormatter: turns values into SQLite literals ("Basalt.SqlFormatter").
//
// Text becomes a single-quoted literal with quotes doubled. A NUL
// character cannot live inside an SQLite text literal, so it is dropped
// rather than letting it cut the statement short.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class SqlFormatter : public Object {
 public:
  const ClassInfo* classInfo() const override;
  std::string Text(const std::string& value) const;
  std::string LikePattern(const std::string& value) const;
  std::string Long(std::int32_t value) const;
  std::string Byte(std::uint8_t value) const;
};

}  // namespace quillon

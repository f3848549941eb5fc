#include "platform/SqlFormatter.h"

namespace quillon {

std::string SqlFormatter::Text(const std::string& value) const {
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (char c : value) {
    if (c == '\0') continue;
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// LIKE in SQLite knows only % and _ as wildcards, and the component's
// patterns carry those on purpose; quoting is all a pattern needs.
std::string SqlFormatter::LikePattern(const std::string& value) const { return Text(value); }

std::string SqlFormatter::Long(std::int32_t value) const { return std::to_string(value); }

std::string SqlFormatter::Byte(std::uint8_t value) const { return std::to_string(value); }

const ClassInfo* SqlFormatter::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<SqlFormatter>("Basalt.SqlFormatter")
          .method("Text", {in("Value")}, [](SqlFormatter& f, auto& a) { return Variant(f.Text(a[0].text())); })
          .method("LikePattern", {in("Value")}, [](SqlFormatter& f, auto& a) { return Variant(f.LikePattern(a[0].text())); })
          .method("Long", {in("Value")}, [](SqlFormatter& f, auto& a) { return Variant(f.Long(a[0].toInt32())); })
          .method("Byte", {in("Value")}, [](SqlFormatter& f, auto& a) { return Variant(f.Byte(a[0].toByte())); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (SqlFormatter().classInfo(), true);
}

}  // namespace quillon

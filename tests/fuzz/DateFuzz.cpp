// Dates from texts in any locale and from any number: a date that comes
// out is in the automation range and prints; anything else is Null or an
// Error (Overflow, type mismatch), never undefined behaviour.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/DateConversion.h"
#include "platform/Error.h"
#include "platform/Variant.h"

using namespace quillon;

namespace {
void mustPrint(const Variant& v) {
  if (v.isNull()) return;
  if (v.type() != VarType::Date || !oleDateInRange(v.toDate())) __builtin_trap();
  formatOleDate(v.toDate());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  static const std::int32_t kLocales[] = {1033, 1031, 1036, 2057, 1043, 1040, 3082, 1041, 2052, 1025, 9999, 0, -1};
  const std::int32_t lcid = kLocales[data[0] % (sizeof kLocales / sizeof kLocales[0])];
  double number;
  std::memcpy(&number, data, sizeof number);
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  mustPrint(ConvertDate(Variant(text), lcid));
  double parsed = 0;
  if (parseOleDate(text, parsed)) formatOleDate(parsed);
  try {
    mustPrint(ConvertDate(Variant(number), lcid));
  } catch (const Error& e) {
    if (e.number() != hr::kOverflow) __builtin_trap();
  }
  for (const Variant& v : {Variant(number), Variant(text), Variant::date(number)}) {
    try {
      v.toDate();
      v.toString();
      v.toInt32();
      v.toInt16();
      v.toByte();
    } catch (const Error&) {
    }
  }
  int y, m, d, h, mi, s;
  try {
    oleDateToParts(number, y, m, d, h, mi, s);
  } catch (const Error&) {
  }
  int year;
  std::memcpy(&year, data + 1, sizeof year);
  try {
    formatOleDate(oleDateFromParts(year, data[5] - 128, data[6] - 128, data[7], data[0], data[1]));
  } catch (const Error& e) {
    if (e.number() != hr::kOverflow) __builtin_trap();
  }
  return 0;
}

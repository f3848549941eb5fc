#include "foundation/Lookups.h"

#include "foundation/ConnectionScope.h"

namespace quillon::Lookups {

bool HasRow(const std::string& sql) {
  ConnectionScope conn;
  auto rs = conn.get()->Execute(sql);
  bool found = !rs->EOF_();
  rs->Close();
  return found;
}

Variant FirstValue(const std::string& sql) {
  ConnectionScope conn;
  auto rs = conn.get()->Execute(sql);
  Variant v = rs->EOF_() ? Variant() : rs->Fields(0).Value();
  rs->Close();
  return v;
}

long Execute(const std::string& sql) {
  ConnectionScope conn;
  long affected = 0;
  conn.get()->Execute(sql, &affected);
  return affected;
}

}  // namespace quillon::Lookups

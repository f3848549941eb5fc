#include "publication/Lookups.h"

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "platform/Database.h"

namespace quillon::Lookups {

namespace {
template <class F>
auto withConnection(F&& f) {
  auto conn = DBUtils::GetConnection();
  try {
    auto result = f(*conn);
    General::CloseConnection(conn);
    return result;
  } catch (...) {
    General::CloseConnection(conn);
    throw;
  }
}
}  // namespace

bool HasRow(const std::string& sql) {
  return withConnection([&](Connection& c) {
    auto rs = c.Execute(sql);
    bool found = !rs->EOF_();
    rs->Close();
    return found;
  });
}

Variant FirstValue(const std::string& sql) {
  return withConnection([&](Connection& c) {
    auto rs = c.Execute(sql);
    Variant v = rs->EOF_() ? Variant() : rs->Fields(0).Value();
    rs->Close();
    return v;
  });
}

long Execute(const std::string& sql) {
  return withConnection([&](Connection& c) {
    long affected = 0;
    c.Execute(sql, &affected);
    return affected;
  });
}

}  // namespace quillon::Lookups

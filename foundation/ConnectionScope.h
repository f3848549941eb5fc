// ConnectionScope: one connection for one operation, closed when the
// operation leaves, on success and on failure alike.
#pragma once

#include <memory>
#include <string>

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "platform/Database.h"

namespace quillon {

class ConnectionScope {
 public:
  ConnectionScope() : conn_(DBUtils::GetConnection()) {}
  ~ConnectionScope() { General::CloseConnection(conn_); }
  ConnectionScope(const ConnectionScope&) = delete;
  ConnectionScope& operator=(const ConnectionScope&) = delete;
  const std::shared_ptr<Connection>& get() const { return conn_; }

 private:
  std::shared_ptr<Connection> conn_;
};

// An updatable client-side opening (keyset, optimistic): the empty result
// that receives a new row, or the row to rewrite.
inline std::shared_ptr<Recordset> OpenForUpdate(const std::string& sql, const std::shared_ptr<Connection>& conn) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open(sql, conn, ado::adOpenKeyset, ado::adLockOptimistic);
  return rs;
}

}  // namespace quillon

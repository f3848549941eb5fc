// SqlNames: checks for names that callers hand in and the component pastes
// into SQL text (column lists, orderings, table names). Values never go
// this way; they go through the Encoding literals.
#pragma once

#include <string>

namespace quillon::SqlNames {

// Letters, digits and underscores, not starting with a digit.
bool IsIdentifier(const std::string& s);
// "COLUMN" or "TABLE.COLUMN".
bool IsColumnReference(const std::string& s);
// A plain table name, with the owner prefix "dbo." at most.
bool IsPlainTableName(const std::string& s);

}  // namespace quillon::SqlNames

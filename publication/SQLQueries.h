// SQLQueries: the SQL texts of the portal's list views (inbox, outbox and
// error box). The text is returned for the page to run, not run here.
//
// A view lists the top-level documents of one type with up to n extra tag
// columns (T1 … Tn), or the children of one parent document. The page's
// filters are (column expression, value) pairs; each is turned into one
// "AND ( … )" condition by the first filter kind that accepts it.
//
// Filter names and tag ids go into the SQL text, so they are checked first:
// a filter name must be a column expression — an optional table prefix, a
// column name and an optional comparison ("=", "<>", "like", "not like",
// …) — and a tag id a whole number. Anything else, and every refused filter
// value, raises InvalidParamValue; o_sErrors then holds the messages joined
// with "|" (message, hint, and the wildcard message of a status filter).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class SQLQueries : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // i_lSenderMode: 1 inbox, 2 error box, anything else outbox. The tag and
  // filter arrays are read at indexes 1 to the given counts.
  void GetDocListQuery(std::int32_t i_lSenderMode, const std::string& i_sDocTypeID, const Variant& i_alTagIDs,
                       const Variant& i_asTagDescriptions, std::int32_t i_lNrOfTags, const Variant& i_asFilterNames,
                       const Variant& i_asFilterValues, std::int32_t i_lNrOfFilters, std::int32_t i_lParentDocID,
                       const std::string& i_sUser, std::string& o_sQuery, std::string& o_sErrors);
};

}  // namespace quillon

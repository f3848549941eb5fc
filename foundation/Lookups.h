// Small database look-ups shared by the component's classes. Each runs on
// a connection of its own, closed before it returns.
#pragma once

#include <string>

#include "platform/Variant.h"

namespace quillon::Lookups {

// Whether the statement yields a row.
bool HasRow(const std::string& sql);
// The first column of the first row; Empty when there is no row.
Variant FirstValue(const std::string& sql);
// Runs a statement and returns the number of rows it changed.
long Execute(const std::string& sql);

}  // namespace quillon::Lookups

// Encoding: SQL literals. Each result is a complete literal of the site
// database, quotes included, so the SQL text around it adds none. Values
// enter SQL text only through these helpers.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::Encoding {

std::string SqlText(const std::string& value);         // 'O''Brien'
std::string SqlLikePattern(const std::string& value);  // the right side of LIKE
std::string SqlLong(std::int32_t value);                // 42
std::string SqlByte(std::uint8_t value);                // 7

}  // namespace quillon::Encoding

// Helpers shared by the files of the Utility class (not part of its interface).
#pragma once

#include <filesystem>
#include <string>

namespace quillon::utility_detail {

// The last part of a path ("\" and "/" both separate), trailing separators ignored.
std::string LastPart(const std::string& path);
// The local file of a path: a network path resolved below the share root
// by the file store, any other with its backslashes as "/".
std::filesystem::path LocalFile(const std::string& path, const std::string& source);

}  // namespace quillon::utility_detail

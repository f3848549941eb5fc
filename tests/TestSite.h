// TestSite: a fresh site per test, made by the same code as `quillon init`.
//
// SetUp creates the site in a new temporary folder, points QUILLON_SITE at
// it and empties the per-thread module state; TearDown removes the folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Log.h"

namespace quillon::test {

class TestSite : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the site; a test may call it itself with sample data.
  void createSite(bool sampleData = false);

  const std::string& dir() const { return dir_; }
  std::string dbPath() const;  // the SQLite file (SQLite sites only)
  // The site database's connection string (SQLite or PostgreSQL: the
  // environment variable QUILLON_TEST_DATABASE=postgresql makes every site
  // of the process a PostgreSQL one, tests/PostgresServer.h).
  std::string connectionString() const;
  bool onPostgres() const { return !database_.empty(); }
  // Runs SQL directly on the site database (test set-up only).
  void exec(const std::string& sql) const;
  // One value of a query, as text ("NULL" for SQL NULL).
  std::string scalar(const std::string& sql) const;
  std::vector<LogEntry> logEntries() const;
  // Writes a file below the site folder and returns its path.
  std::string writeFile(const std::string& relative, const std::string& content) const;
  // Replaces a value in a configuration file of the site.
  void setConfigValue(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) const;

  // The whole content of a file ("" when it cannot be read).
  static std::string read(const std::string& path);

  bool createOnSetUp_ = true;

 private:
  std::string dir_;
  std::string database_;  // PostgreSQL sites: the connection string
};

// Accepted by EXPECT_RAISES when any Error will do.
inline constexpr std::int64_t kAnyError = INT64_MIN;

// The Error `f` raises. A test failure, reported at `file`:`line`, when `f`
// raises nothing, raises something that is not an Error, or raises an
// Error whose number is not `number` (unless it is kAnyError).
Error expectRaises(std::int64_t number, const std::function<void()>& f, const char* statement, const char* file,
                   int line);

}  // namespace quillon::test

// EXPECT_RAISES(number, statement): the statement raises quillon::Error with
// that number. It yields the Error for further checks:
//   Error e = EXPECT_RAISES(NotPresent, files.WriteFileToDisk(""));
//   EXPECT_EQ(e.source(), "...");
#define EXPECT_RAISES(number, ...) \
  ::quillon::test::expectRaises((number), [&] { __VA_ARGS__; }, #__VA_ARGS__, __FILE__, __LINE__)

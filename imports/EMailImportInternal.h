// The file work of the e-mail import: durable writes, renames that never
// replace a file, and the records that keep a message from being taken in
// twice. Internal to imports/EMailImport*.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillon::emailimport {

inline constexpr const char* kSource = "Quillon.EmailImport";
inline std::string Source(const char* step) { return std::string(kSource) + "." + step; }

// The local folder a configured path stands for: a network path
// (\\server\share\…) through the file store, which keeps it below the
// site's share root; any other path with its backslashes made "/".
std::filesystem::path LocalFolder(const std::string& path, const std::string& source);

// Writes the bytes as a new file, synced before it is closed; a file half
// written is removed. An existing file is replaced only with `replace`
// (otherwise the write fails). Raises with source.
void WriteDurably(const std::filesystem::path& file, const std::string& bytes, const std::string& source,
                  const std::string& shown, bool replace = false);
// Renames without replacing; false when `to` exists. Other failures raise.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, const std::string& source);
// Syncs a folder so that names just added or removed in it survive a crash.
void SyncFolder(const std::filesystem::path& folder);

// A 64-bit FNV-1a digest as 16 hexadecimal digits.
std::string Digest(const std::string& bytes);

// The records of one account's messages being taken in, one small file per
// message below SITE/mail/import-records/ACCOUNT, named by a digest of the
// message's mailbox id and bytes (so a message that later gets the same id
// is a different record). Each change is synced before it returns.
class MessageRecords {
 public:
  enum class State { None, Started, Done };

  explicit MessageRecords(const std::string& account);

  State Find(const std::string& id, const std::string& raw) const;
  // Started: the message's result is being made; Done: it is durable.
  // `note` goes into the record for an operator (sender, message id, document).
  void Mark(const std::string& id, const std::string& raw, State state, const std::string& note);
  // Removes the record (the message is gone); raises nothing.
  void Forget(const std::string& id, const std::string& raw);
  // Removes the records of messages that are no longer in the mailbox.
  void ForgetAllBut(const std::vector<std::string>& ids);

 private:
  std::filesystem::path fileOf(const std::string& id, const std::string& raw) const;
  std::filesystem::path folder_;
  std::string account_;
};

}  // namespace quillon::emailimport

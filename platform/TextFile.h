// TextFile: how text files are read and written, and the one write path on
// the local file system that the file store and FileHandling share.
//
// A text file is either ANSI, in the site's ANSI code page
// (SystemAnsiCodePage, platform/CodePage.h), or Unicode: UTF-16LE
// starting with the byte-order mark FF FE. Text in the program is UTF-8.
//
// Reading (Decode): a file that starts with FF FE is Unicode; one that is
// valid UTF-8 (a UTF-8 byte-order mark is dropped) is taken as it is, which
// also reads back the files earlier versions wrote; any other file, such as
// a partner's Windows-1252 export, is ANSI. The result is always UTF-8.
//
// Writing never loses a character silently: ANSI text that holds a
// character the code page lacks is refused (Error hr::kInvalidArg naming
// the file and the code page), unless the caller lets such text be
// written as Unicode instead.
#pragma once

#include <filesystem>
#include <string>

namespace quillon::TextFile {

enum class Form {
  Ansi,           // the site's ANSI code page; text it cannot hold is refused
  Unicode,        // UTF-16LE with the byte-order mark
  AnsiOrUnicode,  // ANSI when every character fits, Unicode otherwise
};

// The UTF-8 text of a file's bytes (see above).
std::string Decode(const std::string& bytes);

// Writes the bytes as the file's whole content (replacing it) or appends
// them. `shownPath` is the caller's spelling of the path, for messages;
// failures raise Error hr::kPathFileAccess with `source`.
void WriteBytes(const std::filesystem::path& file, const std::string& bytes, bool append, const std::string& source,
                const std::string& shownPath);

// Writes the text as a new file in the form, replacing an existing one.
void Write(const std::filesystem::path& file, const std::string& text, Form form, const std::string& source,
           const std::string& shownPath);

// Appends the text in the form the file already has: Unicode (without a
// second byte-order mark) after FF FE, ANSI otherwise. A missing or empty
// file is written as `formOfNewFile`.
void Append(const std::filesystem::path& file, const std::string& text, Form formOfNewFile, const std::string& source,
            const std::string& shownPath);

}  // namespace quillon::TextFile

#include "platform/TextFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"

namespace fs = std::filesystem;

namespace quillon::TextFile {

namespace {

const std::string kUnicodeMark = "\xFF\xFE";
const std::string kUtf8Mark = "\xEF\xBB\xBF";

bool startsWith(const std::string& bytes, const std::string& prefix) { return bytes.compare(0, prefix.size(), prefix) == 0; }

// The bytes of the text in the form; `withMark` puts the byte-order mark
// before Unicode text.
std::string encode(const std::string& text, Form form, bool withMark, const std::string& source,
                   const std::string& shownPath) {
  if (form != Form::Unicode) {
    const int codePage = SystemAnsiCodePage();
    bool lossless = true;
    std::string ansi = ToCodePage(text, codePage, &lossless);
    if (lossless) return ansi;
    if (form == Form::Ansi)
      throw Error(hr::kInvalidArg, source,
                  "The text for the file " + LocalFiles::Quoted(shownPath) +
                      " holds characters that the ANSI code page " + std::to_string(codePage) +
                      " cannot represent; it was not written. Write it as Unicode text instead.");
  }
  return (withMark ? kUnicodeMark : std::string()) + ToUtf16LE(text);
}

// The first bytes of an existing file ("" when it is missing or empty).
std::string head(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char buffer[2] = {};
  in.read(buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(in.gcount()));
}

}  // namespace

std::string Decode(const std::string& bytes) {
  if (startsWith(bytes, kUnicodeMark)) return FromUtf16LE(bytes);
  if (IsUtf8(bytes)) return startsWith(bytes, kUtf8Mark) ? bytes.substr(kUtf8Mark.size()) : bytes;
  return FromCodePage(bytes, SystemAnsiCodePage());
}

void WriteBytes(const fs::path& file, const std::string& bytes, bool append, const std::string& source,
                const std::string& shownPath) {
  std::ofstream out(file, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!out) {
    int err = errno;
    throw Error(hr::kPathFileAccess, source,
                "The file " + LocalFiles::Quoted(shownPath) + " cannot be written: " + std::strerror(err) + ".");
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out)
    throw Error(hr::kPathFileAccess, source, "The file " + LocalFiles::Quoted(shownPath) + " could not be written completely.");
}

void Write(const fs::path& file, const std::string& text, Form form, const std::string& source,
           const std::string& shownPath) {
  WriteBytes(file, encode(text, form, true, source, shownPath), false, source, shownPath);
}

void Append(const fs::path& file, const std::string& text, Form formOfNewFile, const std::string& source,
            const std::string& shownPath) {
  const std::string start = LocalFiles::IsFile(file) ? head(file) : std::string();
  if (start.empty()) {
    Write(file, text, formOfNewFile, source, shownPath);
    return;
  }
  // Mixing the two forms in one file would garble it: ANSI text that does
  // not fit an ANSI file is refused rather than appended as Unicode.
  const bool unicode = startsWith(start, kUnicodeMark);
  WriteBytes(file, encode(text, unicode ? Form::Unicode : Form::Ansi, false, source, shownPath), true, source,
             shownPath);
}

}  // namespace quillon::TextFile

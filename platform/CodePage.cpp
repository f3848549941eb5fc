#include "platform/CodePage.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace quillon {

namespace {

constexpr const char* kSource = "CodePage";
constexpr const char* kUtf8Replacement = "\xEF\xBF\xBD";  // U+FFFD

// iconv's name for a Windows code page number.
std::string iconvName(int codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 1252: return "WINDOWS-1252";
    case 20127: return "ASCII";
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28605) return "ISO-8859-" + std::to_string(codePage - 28590);
  return "CP" + std::to_string(codePage);
}

// Length of the well-formed UTF-8 sequence at `p` (1 to 4), or 0 when the
// bytes there do not start one.
std::size_t utf8SequenceLength(const unsigned char* p, std::size_t left) {
  if (left == 0) return 0;
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (left < n) return 0;
  if (p[1] < lo || p[1] > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return n;
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from, int codePage) {
    cd_ = ::iconv_open(to.c_str(), from.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw Error(hr::kInvalidArg, kSource,
                  "The code page " + std::to_string(codePage) + " (" + (to == "UTF-8" ? from : to) +
                      ") is not supported by this system.");
  }
  ~Converter() { ::iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `input`. At a sequence that cannot be converted `skip` says how
  // many input bytes to pass over, and `replacement` is written instead.
  // Returns false when any replacement was made.
  bool run(const std::string& input, std::string& output, const std::string& replacement,
           std::size_t (*skip)(const unsigned char*, std::size_t)) {
    bool clean = true;
    output.clear();
    output.reserve(input.size() + 16);
    char buffer[4096];
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
      char* out = buffer;
      std::size_t outLeft = sizeof buffer;
      std::size_t rc = ::iconv(cd_, &in, &inLeft, &out, &outLeft);
      int err = errno;
      output.append(buffer, static_cast<std::size_t>(out - buffer));
      if (rc != static_cast<std::size_t>(-1)) {
        if (rc > 0) clean = false;  // iconv substituted characters on its own
        continue;
      }
      if (err == E2BIG) continue;  // the buffer is full: go on with it emptied
      if (err == EILSEQ) {
        clean = false;
        output += replacement;
        std::size_t n = skip(reinterpret_cast<const unsigned char*>(in), inLeft);
        if (n == 0 || n > inLeft) n = 1;
        in += n;
        inLeft -= n;
        continue;
      }
      if (err == EINVAL) {  // an incomplete sequence at the end of the input
        clean = false;
        output += replacement;
        break;
      }
      throw Error(hr::kFail, kSource, std::string("Code page conversion failed: ") + std::strerror(err));
    }
    // Return to the initial shift state (a no-op for the encodings above).
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(cd_, nullptr, nullptr, &out, &outLeft);
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    return clean;
  }

 private:
  iconv_t cd_;
};

std::size_t skipUtf8(const unsigned char* p, std::size_t left) {
  std::size_t n = utf8SequenceLength(p, left);
  return n == 0 ? 1 : n;
}

std::size_t skipOneByte(const unsigned char*, std::size_t) { return 1; }
std::size_t skipCodeUnit(const unsigned char*, std::size_t) { return 2; }

}  // namespace

std::string ToCodePage(const std::string& utf8, int codePage, bool* lossless) {
  std::string name = iconvName(codePage);
  std::string replacement = "?";
  if (codePage == 1200) replacement = std::string("?\0", 2);
  if (codePage == 1201) replacement = std::string("\0?", 2);
  Converter c(name, "UTF-8", codePage);
  std::string out;
  bool clean = c.run(utf8, out, replacement, skipUtf8);
  if (lossless) *lossless = clean;
  return out;
}

std::string FromCodePage(const std::string& bytes, int codePage) {
  std::string name = iconvName(codePage);
  Converter c("UTF-8", name, codePage);
  std::string out;
  auto skip = codePage == 65001 ? skipUtf8 : (codePage == 1200 || codePage == 1201) ? skipCodeUnit : skipOneByte;
  c.run(bytes, out, kUtf8Replacement, skip);
  return out;
}

std::string ToUtf16LE(const std::string& utf8) {
  Converter c("UTF-16LE", "UTF-8", 1200);
  std::string out;
  c.run(utf8, out, std::string("\xFD\xFF", 2), skipUtf8);
  return out;
}

std::string FromUtf16LE(const std::string& bytes) {
  std::string body = bytes;
  if (body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0xFF && static_cast<unsigned char>(body[1]) == 0xFE)
    body.erase(0, 2);
  return FromCodePage(body, 1200);
}

namespace {

// A code page number from a setting; `where` names the setting in the error.
int codePageNumber(const std::string& value, const std::string& where) {
  std::string v = value;
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.erase(0, 1);
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || !end || *end != '\0' || n <= 0 || n >= 100000)
    throw Error(hr::kInvalidArg, kSource, "The ANSI code page '" + value + "' (" + where + ") is not a code page number.");
  return static_cast<int>(n);
}

}  // namespace

int SystemAnsiCodePage() {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (site && *site) {
    std::filesystem::path file = std::filesystem::path(text::LocalPath(site)) / "SiteConfiguration.xml";
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) {
      Configuration config;
      config.Load(file.string());
      std::string value = config.GetValue(kAnsiCodePageSection, kAnsiCodePageKey).text();
      if (value.find_first_not_of(" \t\r\n") != std::string::npos)
        return codePageNumber(value, std::string("section ") + kAnsiCodePageSection + ", key " + kAnsiCodePageKey +
                                         " of " + file.string());
    }
  }
  // The environment's choice counts only when it is a number, as it always has.
  const char* env = std::getenv(kAnsiCodePageVariable);
  if (env && *env) {
    char* end = nullptr;
    long v = std::strtol(env, &end, 10);
    if (end && *end == '\0' && v > 0 && v < 100000) return static_cast<int>(v);
  }
  return 1252;
}

bool IsUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  while (left > 0) {
    std::size_t n = utf8SequenceLength(p, left);
    if (n == 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

}  // namespace quillon

#include "platform/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon {

namespace {

[[noreturn]] void typeMismatch(const std::string& what) {
  throw Error(hr::kTypeMismatch, "Quillon", "Type mismatch: " + what);
}
[[noreturn]] void overflow() { throw Error(hr::kOverflow, "Quillon", "Overflow"); }

std::string trimBlanks(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Reads a whole text as a number the way automation's numeric coercion
// does for the forms the component meets: decimal with optional sign,
// fraction and exponent, and "&H" hexadecimal.
bool parseNumber(const std::string& text, double& out) {
  std::string t = trimBlanks(text);
  if (t.empty()) return false;
  if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
    unsigned long long v = 0;
    auto r = std::from_chars(t.data() + 2, t.data() + t.size(), v, 16);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
    out = static_cast<double>(v);
    return true;
  }
  std::size_t start = (t[0] == '+') ? 1 : 0;
  auto r = std::from_chars(t.data() + start, t.data() + t.size(), out);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// Banker's rounding, as automation uses when it narrows a double.
double roundHalfEven(double d) { return std::nearbyint(d); }

std::string formatDouble(double d) {
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// Days from civil date (proleptic Gregorian), Howard Hinnant's algorithm.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const long long kOleEpochDays = daysFromCivil(1899, 12, 30);

// The automation date range: 0100-01-01 up to (not including) 10000-01-01.
constexpr double kFirstOleDate = -657434.0;
constexpr double kEndOleDate = 2958466.0;
// oleDateToParts works up to this many days either side of the epoch.
constexpr double kLargestPartsDate = 1e9;

}  // namespace

// ---- dates ---------------------------------------------------------------

bool oleDateInRange(double d) { return d >= kFirstOleDate && d < kEndOleDate; }  // false for NaN

double oleDateFromParts(int year, int month, int day, int hour, int minute, int second) {
  // Months and days out of range roll over, as DateSerial does. The sums are
  // made in 64 bits: no int argument can overflow them.
  long long y = static_cast<long long>(year) + (static_cast<long long>(month) - 1) / 12;
  long long m = (static_cast<long long>(month) - 1) % 12;
  if (m < 0) {
    m += 12;
    --y;
  }
  long long days = daysFromCivil(y, static_cast<unsigned>(m + 1), 1) + (static_cast<long long>(day) - 1) - kOleEpochDays;
  double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Automation dates before the epoch keep the time as a positive fraction
  // on a negative day number; the component never writes such dates.
  return static_cast<double>(days) + time;
}

void oleDateToParts(double d, int& year, int& month, int& day, int& hour, int& minute, int& second) {
  // Far outside the date range the day number and the year do not fit an
  // integer at all (NaN never does). Within a few million years they do,
  // so callers can still see and judge a year outside the range.
  if (!(std::fabs(d) < kLargestPartsDate)) overflow();
  double dayPart = std::floor(d);
  long long secs = std::llround((d - dayPart) * 86400.0);
  long long days = static_cast<long long>(dayPart);
  if (secs >= 86400) {
    secs -= 86400;
    ++days;
  }
  civilFromDays(days + kOleEpochDays, year, month, day);
  hour = static_cast<int>(secs / 3600);
  minute = static_cast<int>((secs / 60) % 60);
  second = static_cast<int>(secs % 60);
}

std::string formatOleDate(double d) {
  if (!oleDateInRange(d)) overflow();
  int y, mo, da, h, mi, s;
  oleDateToParts(d, y, mo, da, h, mi, s);
  if (y > 9999) overflow();  // the last second of 9999 rounded up
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
  return buf;
}

bool parseOleDate(const std::string& text, double& out) {
  std::string t = trimBlanks(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int n = 0;
  int consumed = 0;
  n = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &consumed);
  if (n != 3) return false;
  std::string rest = t.substr(static_cast<std::size_t>(consumed));
  if (!rest.empty()) {
    int c2 = 0;
    n = std::sscanf(rest.c_str(), "%c%2d:%2d%n", &sep, &h, &mi, &c2);
    if (n != 3 || (sep != ' ' && sep != 'T')) return false;
    std::string tail = rest.substr(static_cast<std::size_t>(c2));
    if (!tail.empty()) {
      int c3 = 0;
      double fs = 0;
      if (std::sscanf(tail.c_str(), ":%lf%n", &fs, &c3) != 1) return false;
      if (static_cast<std::size_t>(c3) != tail.size()) return false;
      // Seconds out of range (huge, negative, "inf", "nan") are no time;
      // converting them to int would be undefined.
      if (!(fs >= 0 && fs < 60)) return false;
      s = static_cast<int>(fs);
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s > 59) return false;
  double date = oleDateFromParts(y, mo, d, h, mi, s);
  if (!oleDateInRange(date)) return false;  // years before 100 are no automation date
  out = date;
  return true;
}

std::time_t wallClockSeconds() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

double oleNow() {
  std::time_t now = wallClockSeconds();
  std::tm local{};
  localtime_r(&now, &local);
  return oleDateFromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
}

// ---- Variant ---------------------------------------------------------------

Variant::Variant(bool b) : type_(VarType::Boolean), d_(0) { b_ = b; }
Variant::Variant(std::uint8_t y) : type_(VarType::Byte), d_(0) { y_ = y; }
Variant::Variant(std::int16_t i) : type_(VarType::Int16), d_(0) { i_ = i; }
Variant::Variant(int l) : type_(VarType::Int32), d_(0) { l_ = l; }
Variant::Variant(long l) : Variant(static_cast<long long>(l)) {}
Variant::Variant(long long l) : d_(0) {
  if (l >= std::numeric_limits<std::int32_t>::min() && l <= std::numeric_limits<std::int32_t>::max()) {
    type_ = VarType::Int32;
    l_ = static_cast<std::int32_t>(l);
  } else {
    type_ = VarType::Double;
    d_ = static_cast<double>(l);
  }
}
Variant::Variant(double d) : type_(VarType::Double), d_(d) {}
Variant::Variant(const char* s) : type_(VarType::String), d_(0), s_(s ? s : "") {}
Variant::Variant(std::string s) : type_(VarType::String), d_(0), s_(std::move(s)) {}
Variant::Variant(VariantArray a) : type_(VarType::Array), d_(0), a_(std::make_unique<VariantArray>(std::move(a))) {}
Variant::Variant(std::shared_ptr<Object> o) : type_(VarType::Object), d_(0), object_(std::move(o)) {}

Variant::Variant(const Variant& o) : type_(o.type_), d_(o.d_), s_(o.s_), object_(o.object_) {
  if (o.a_) a_ = std::make_unique<VariantArray>(*o.a_);
}
Variant::Variant(Variant&& o) noexcept
    : type_(o.type_), d_(o.d_), s_(std::move(o.s_)), a_(std::move(o.a_)), object_(std::move(o.object_)) {
  o.type_ = VarType::Empty;
}
Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}
Variant& Variant::operator=(Variant&& o) noexcept {
  if (this != &o) {
    type_ = o.type_;
    d_ = o.d_;
    s_ = std::move(o.s_);
    a_ = std::move(o.a_);
    object_ = std::move(o.object_);
    o.type_ = VarType::Empty;
  }
  return *this;
}
Variant::~Variant() = default;

Variant Variant::null() {
  Variant v;
  v.type_ = VarType::Null;
  return v;
}

Variant Variant::date(double oleDate) {
  Variant v(oleDate);
  v.type_ = VarType::Date;
  return v;
}

bool Variant::isNumeric() const {
  switch (type_) {
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Double:
    case VarType::Date:
      return true;
    default:
      return false;
  }
}

double Variant::toDouble() const {
  switch (type_) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return b_ ? -1 : 0;
    case VarType::Byte:
      return y_;
    case VarType::Int16:
      return i_;
    case VarType::Int32:
      return l_;
    case VarType::Double:
    case VarType::Date:
      return d_;
    case VarType::String: {
      double d;
      if (parseNumber(s_, d)) return d;
      typeMismatch("'" + s_ + "' is not a number");
    }
    default:
      typeMismatch(typeName() + " is not a number");
  }
}

bool Variant::toBool() const {
  switch (type_) {
    case VarType::Boolean:
      return b_;
    case VarType::String: {
      std::string t = toLowerAscii(trimBlanks(s_));
      if (t == "true") return true;
      if (t == "false") return false;
      return toDouble() != 0;
    }
    default:
      return toDouble() != 0;
  }
}

std::int32_t Variant::toInt32() const {
  if (type_ == VarType::Int32) return l_;
  double d = roundHalfEven(toDouble());
  // Written so that NaN fails too: casting it would be undefined.
  if (!(d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max())) overflow();
  return static_cast<std::int32_t>(d);
}

std::int16_t Variant::toInt16() const {
  if (type_ == VarType::Int16) return i_;
  double d = roundHalfEven(toDouble());
  if (!(d >= std::numeric_limits<std::int16_t>::min() && d <= std::numeric_limits<std::int16_t>::max())) overflow();
  return static_cast<std::int16_t>(d);
}

std::uint8_t Variant::toByte() const {
  if (type_ == VarType::Byte) return y_;
  double d = roundHalfEven(toDouble());
  if (!(d >= 0 && d <= 255)) overflow();
  return static_cast<std::uint8_t>(d);
}

double Variant::toDate() const {
  if (type_ == VarType::Date) return d_;
  if (type_ == VarType::String) {
    double d;
    if (parseOleDate(s_, d)) return d;
    typeMismatch("'" + s_ + "' is not a date");
  }
  double d = toDouble();
  if (!oleDateInRange(d)) overflow();
  return d;
}

std::string Variant::toString() const {
  switch (type_) {
    case VarType::Empty:
      return {};
    case VarType::Null:
      typeMismatch("Null is not a text (invalid use of Null)");
    case VarType::Boolean:
      return b_ ? "True" : "False";
    case VarType::Byte:
      return std::to_string(y_);
    case VarType::Int16:
      return std::to_string(i_);
    case VarType::Int32:
      return std::to_string(l_);
    case VarType::Double:
      return formatDouble(d_);
    case VarType::Date:
      return formatOleDate(d_);
    case VarType::String:
      return s_;
    default:
      typeMismatch(typeName() + " is not a text");
  }
}

std::string Variant::text() const {
  if (type_ == VarType::Null || type_ == VarType::Empty) return {};
  return toString();
}

const VariantArray& Variant::array() const {
  if (type_ != VarType::Array) typeMismatch(typeName() + " is not an array");
  return *a_;
}
VariantArray& Variant::array() {
  if (type_ != VarType::Array) typeMismatch(typeName() + " is not an array");
  return *a_;
}
const std::shared_ptr<Object>& Variant::object() const {
  if (type_ != VarType::Object) throw Error(hr::kObjectRequired, "Quillon", "Object required");
  return object_;
}

std::string Variant::typeName() const {
  switch (type_) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::Boolean:
      return "Boolean";
    case VarType::Byte:
      return "Byte";
    case VarType::Int16:
      return "Integer";
    case VarType::Int32:
      return "Long";
    case VarType::Double:
      return "Double";
    case VarType::Date:
      return "Date";
    case VarType::String:
      return "String";
    case VarType::Array:
      return "Variant()";
    case VarType::Object:
      if (!object_) return "Nothing";
      if (const ClassInfo* ci = object_->classInfo()) return ci->name;
      return "Object";
  }
  return "Unknown";
}

// ---- VariantArray ------------------------------------------------------------

VariantArray::VariantArray(std::vector<Variant> elements)
    : bounds_{Bound{0, static_cast<long>(elements.size())}}, data_(std::move(elements)) {}

VariantArray::VariantArray(std::vector<Bound> bounds) : bounds_(std::move(bounds)) {
  if (bounds_.empty()) bounds_.push_back(Bound{0, 0});
  std::size_t n = 1;
  for (const Bound& b : bounds_) n *= static_cast<std::size_t>(b.count < 0 ? 0 : b.count);
  data_.resize(n);
}

VariantArray VariantArray::ofStrings(const std::vector<std::string>& items) {
  std::vector<Variant> v;
  v.reserve(items.size());
  for (const auto& s : items) v.emplace_back(s);
  return VariantArray(std::move(v));
}

VariantArray VariantArray::ofBytes(const std::string& bytes) {
  std::vector<Variant> v;
  v.reserve(bytes.size());
  for (unsigned char c : bytes) v.emplace_back(static_cast<std::uint8_t>(c));
  return VariantArray(std::move(v));
}

long VariantArray::lbound(int dim) const {
  if (dim < 1 || dim > dimensions()) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return bounds_[static_cast<std::size_t>(dim - 1)].lower;
}
long VariantArray::ubound(int dim) const {
  if (dim < 1 || dim > dimensions()) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  const Bound& b = bounds_[static_cast<std::size_t>(dim - 1)];
  return b.lower + b.count - 1;
}

std::size_t VariantArray::offset(long i, long j) const {
  if (bounds_.size() == 1) {
    long k = i - bounds_[0].lower;
    if (j != 0 || k < 0 || k >= bounds_[0].count) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
    return static_cast<std::size_t>(k);
  }
  if (bounds_.size() != 2) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  long a = i - bounds_[0].lower, b = j - bounds_[1].lower;
  if (a < 0 || a >= bounds_[0].count || b < 0 || b >= bounds_[1].count)
    throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return static_cast<std::size_t>(b * bounds_[0].count + a);
}

Variant& VariantArray::at(long i) {
  if (bounds_.size() != 1) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return data_[offset(i, 0)];
}
const Variant& VariantArray::at(long i) const {
  if (bounds_.size() != 1) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return data_[offset(i, 0)];
}
Variant& VariantArray::at(long i, long j) {
  if (bounds_.size() != 2) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return data_[offset(i, j)];
}
const Variant& VariantArray::at(long i, long j) const {
  if (bounds_.size() != 2) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  return data_[offset(i, j)];
}

void VariantArray::push_back(Variant v) {
  if (bounds_.size() != 1) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  data_.push_back(std::move(v));
  bounds_[0].count = static_cast<long>(data_.size());
}

void VariantArray::resize(long count) {
  if (bounds_.size() != 1) throw Error(hr::kSubscript, "Quillon", "Subscript out of range");
  data_.resize(static_cast<std::size_t>(count < 0 ? 0 : count));
  bounds_[0].count = static_cast<long>(data_.size());
}

std::string VariantArray::bytes() const {
  std::string out;
  out.reserve(data_.size());
  for (const Variant& v : data_) out.push_back(static_cast<char>(v.toByte()));
  return out;
}

}  // namespace quillon

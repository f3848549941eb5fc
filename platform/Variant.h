// Variant: the value type of the automation interface.
//
// A Variant holds exactly one of: Empty, Null, Boolean, Byte, Int16 (16-bit
// integer), Int32 (32-bit integer), Double, Date, String, Array or Object.
// Text is UTF-8. A Date is an automation date: days since 1899-12-30 as a
// double, the fraction being the time of day (local clock, no time zone).
// An Array has one or more dimensions, each with its own lower bound; a
// recordset's row fetch gives a two-dimensional array (field, row).
// Arrays are values: copying a Variant copies its array. Objects are shared.
//
// Conversions (toInt32, toString, …) follow the automation rules where the
// component relies on them: numeric text converts to a number, Empty
// converts to 0 / "" / false, Null and non-numeric text raise a type
// mismatch (Error with number 0x800A000D). Not thread-safe per instance.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

class Object;
class VariantArray;

enum class VarType { Empty, Null, Boolean, Byte, Int16, Int32, Double, Date, String, Array, Object };

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool b);
  Variant(std::uint8_t y);
  Variant(std::int16_t i);
  Variant(int l);
  Variant(long l);  // narrowed to 32 bits; larger values become Double
  Variant(long long l);
  Variant(double d);
  Variant(const char* s);
  Variant(std::string s);
  Variant(VariantArray a);
  Variant(std::shared_ptr<Object> o);
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Variant(std::shared_ptr<T> o) : Variant(std::static_pointer_cast<Object>(std::move(o))) {}

  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant null();
  static Variant date(double oleDate);
  static Variant int16(std::int16_t v) { return Variant(v); }
  static Variant byte(std::uint8_t v) { return Variant(v); }

  VarType type() const { return type_; }
  bool isEmpty() const { return type_ == VarType::Empty; }
  bool isNull() const { return type_ == VarType::Null; }
  bool isString() const { return type_ == VarType::String; }
  bool isArray() const { return type_ == VarType::Array; }
  bool isObject() const { return type_ == VarType::Object; }
  bool isNumeric() const;  // Boolean, Byte, Int16, Int32, Double, Date
  // True when the Object is set (not Nothing).
  bool isSetObject() const { return type_ == VarType::Object && object_ != nullptr; }

  bool toBool() const;
  std::uint8_t toByte() const;
  std::int16_t toInt16() const;  // overflow (and NaN) raises 0x800A0006
  std::int32_t toInt32() const;  // overflow (and NaN) raises 0x800A0006
  double toDouble() const;
  double toDate() const;          // text is read as "YYYY-MM-DD[ hh:mm:ss]"; a number out of range overflows
  std::string toString() const;   // Null raises; dates as "YYYY-MM-DD hh:mm:ss"
  // Text of the value, Null and Empty as "" (the "& vbNullString" idiom).
  std::string text() const;

  const VariantArray& array() const;
  VariantArray& array();
  const std::shared_ptr<Object>& object() const;  // raises unless Object
  template <class T>
  std::shared_ptr<T> as() const {  // nullptr when not an Object of type T
    return type_ == VarType::Object ? std::dynamic_pointer_cast<T>(object_) : nullptr;
  }

  // Name of the type as the automation TypeName function gives it.
  std::string typeName() const;

 private:
  VarType type_ = VarType::Empty;
  union {
    bool b_;
    std::uint8_t y_;
    std::int16_t i_;
    std::int32_t l_;
    double d_ = 0;
  };
  std::string s_;
  std::unique_ptr<VariantArray> a_;
  std::shared_ptr<Object> object_;
};

// An array of Variants with per-dimension bounds. Elements are stored with
// the first index varying fastest, as a safe array stores them.
class VariantArray {
 public:
  struct Bound {
    long lower = 0;
    long count = 0;
  };
  VariantArray() = default;
  // One dimension: lower bound 0, the given elements.
  explicit VariantArray(std::vector<Variant> elements);
  explicit VariantArray(std::vector<Bound> bounds);

  static VariantArray ofStrings(const std::vector<std::string>& items);
  static VariantArray ofBytes(const std::string& bytes);

  int dimensions() const { return static_cast<int>(bounds_.size()); }
  long lbound(int dim = 1) const;  // dim is 1-based as in LBound
  long ubound(int dim = 1) const;  // an empty 1-D array has UBound -1
  std::size_t size() const { return data_.size(); }

  Variant& at(long i);  // one-dimensional, index within bounds
  const Variant& at(long i) const;
  Variant& at(long i, long j);  // two-dimensional (i: first, j: second)
  const Variant& at(long i, long j) const;

  void push_back(Variant v);  // grows a one-dimensional array
  // ReDim Preserve of the last (only) dimension of a one-dimensional array.
  void resize(long count);

  const std::vector<Variant>& elements() const { return data_; }
  std::vector<Variant>& elements() { return data_; }
  // The bytes of an array of Byte (or small integers) as a string.
  std::string bytes() const;

 private:
  std::size_t offset(long i, long j) const;
  std::vector<Bound> bounds_{Bound{0, 0}};
  std::vector<Variant> data_;
};

// Automation dates. The range is 0100-01-01 to 9999-12-31 23:59:59: a
// number outside it (or NaN) is no date, and turning it into one (toDate of
// a number, formatOleDate, the text of a Date) raises Overflow
// (hr::kOverflow), as automation does. oleDateToParts gives the parts of
// any date within a million years or so (callers judge the year) and
// raises Overflow beyond.
bool oleDateInRange(double d);
double oleDateFromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
void oleDateToParts(double d, int& year, int& month, int& day, int& hour, int& minute, int& second);
std::string formatOleDate(double d);  // "YYYY-MM-DD hh:mm:ss"
// Reads "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss]" or with a "T"; false on anything
// else, a year before 100 included.
[[nodiscard]] bool parseOleDate(const std::string& text, double& out);
double oleNow();  // the local clock, from wallClockSeconds

// The wall clock in whole seconds, read from the precise clock. time()
// reads the kernel's coarse clock, which can lag a file's change time by
// a tick: a date taken right after a rename could come before the rename.
std::time_t wallClockSeconds();

}  // namespace quillon

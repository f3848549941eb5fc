// Binding: by-name methods derived from their C++ signatures.
//
// Contract
//
//   ClassBuilder<Utility>("Quillon.Utility")
//       .bind<&Utility::GetDocType>("GetDocType", {"iXMLStr", opt("iBPID", 0)})
//       .bind<&Utility::GetSenderBPAndName>("GetSenderBPAndName",
//                                           {"iXMLStr", out("oSenderBP"), out("oSenderName")})
//       .bind<&Utility::getIISVirtID>("getIISVirtID")
//       .done();
//
// registers each method under the given name. For every registration:
//
// * Parameters. The list holds one entry per C++ parameter, in order; a
//   missing or extra entry fails the build (static_assert). C++ cannot
//   reflect parameter names, so the names are written here; everything else
//   comes from the signature.
// * Direction. A non-const lvalue reference parameter (X&) is by reference:
//   its argument slot is converted in, and after the call the value is
//   converted back into the slot, also when the method raises (an output
//   such as a list of refused filters belongs to the failure). An entry
//   written out("name") is output only: the argument is never read and the
//   parameter starts blank (X{}). Every other parameter is read only. An
//   entry written ref("name") on a by-value parameter keeps ByRef on the
//   automation interface: the value the method received is handed back (for
//   an object, the object as the method left it). out() on a by-value
//   parameter is a registration error (std::logic_error at load time).
// * Defaults. opt("name", v), optRef("name", v), out("name", v) and
//   {"name", v} make a parameter optional; Object::invoke fills in the
//   default of a left-out argument. A default that does not convert to the
//   parameter's type is a registration error.
// * Conversions. Convert<X> reads an argument (from), writes a result or an
//   output (to) and names the type for `quillon describe` (name):
//     bool                      Boolean (automation rules: numbers, "True"/"False")
//     std::uint8_t, int16_t,    Byte, Integer, Long: numbers and numeric text,
//     int32_t, long              rounded half-even; out of range raises Overflow
//     double                    Double
//     std::string               String; Empty and Null read as ""
//     Bytes                     Byte(): an array of bytes or a text's bytes
//     enumerations              their plain 32-bit integer, unchecked
//     Variant                   as it is
//     std::shared_ptr<T>        an object of class T (or a derived class);
//                               Empty, Null and Nothing read as nullptr
//     std::shared_ptr<DomDocument>, std::shared_ptr<DomNode>
//                               also an XML text, parsed (the command line
//                               passes documents as text)
//     std::vector<T>            a one-dimensional array; Empty reads as {}
//     std::array<T, N>          the first N elements of an array (fewer raise
//                               Subscript out of range)
//   A value of the wrong kind raises Type mismatch (0x800A000D). A failed
//   conversion raises its own number with the parameter named in the
//   description, and the method is not called. Component types bring their
//   own specialisation in the header that defines them (a type without one
//   does not compile).
// * Wire signature. bind<&Base64::Base64Decode, Bytes(std::string)> converts
//   by the types of the wire signature instead of the C++ ones, and casts
//   between them (static_cast) on the way in and out. The arity and the
//   by-reference positions must match the C++ signature.
// * Typed lambda. bind("Name", {"a", "b"}, [](T& self, A a, B& b) -> R {...})
//   converts like a bound method; it is for the few conversions that need
//   code.
// * Free functions (module operations) bind like methods; the object is
//   not used.
// * Description. Every ParamInfo gets its direction and type name, the
//   MethodInfo its result type ("" for none), for `quillon describe`.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon {

class DomDocument;
class DomNode;

// A byte array on the automation interface, held as the bytes of a string.
struct Bytes : std::string {
  Bytes() = default;
  Bytes(std::string s) : std::string(std::move(s)) {}
};

// The conversions of one C++ type; see the contract above. Not defined for
// types without a specialisation, so binding one fails to compile.
template <class T, class Enable = void>
struct Convert;

namespace binding {

// The class or enumeration name of a type without its namespaces ("DomDocument").
std::string ShortTypeName(const std::type_info& type);
// Raises Type mismatch: `expected` is expected, `got` was given.
[[noreturn]] void TypeMismatch(const std::string& expected, const Variant& got);
// An XML text or a DOM object as a document or node; see Convert below.
std::shared_ptr<DomDocument> DocumentFrom(const Variant& v);
std::shared_ptr<DomNode> NodeFrom(const Variant& v);
Variant ObjectVariant(std::shared_ptr<Object> o);

}  // namespace binding

template <>
struct Convert<bool> {
  static bool from(const Variant& v) { return v.toBool(); }
  static Variant to(bool b) { return Variant(b); }
  static std::string name() { return "Boolean"; }
};
template <>
struct Convert<std::uint8_t> {
  static std::uint8_t from(const Variant& v) { return v.toByte(); }
  static Variant to(std::uint8_t y) { return Variant(y); }
  static std::string name() { return "Byte"; }
};
template <>
struct Convert<std::int16_t> {
  static std::int16_t from(const Variant& v) { return v.toInt16(); }
  static Variant to(std::int16_t i) { return Variant(i); }
  static std::string name() { return "Integer"; }
};
template <>
struct Convert<std::int32_t> {
  static std::int32_t from(const Variant& v) { return v.toInt32(); }
  static Variant to(std::int32_t l) { return Variant(l); }
  static std::string name() { return "Long"; }
};
template <>
struct Convert<long> {
  static long from(const Variant& v) { return v.toInt32(); }
  static Variant to(long l) { return Variant(l); }
  static std::string name() { return "Long"; }
};
template <>
struct Convert<double> {
  static double from(const Variant& v) { return v.toDouble(); }
  static Variant to(double d) { return Variant(d); }
  static std::string name() { return "Double"; }
};
template <>
struct Convert<std::string> {
  static std::string from(const Variant& v) { return v.text(); }
  static Variant to(const std::string& s) { return Variant(s); }
  static std::string name() { return "String"; }
};
template <>
struct Convert<Bytes> {
  static Bytes from(const Variant& v) {
    if (v.isEmpty() || v.isNull()) return {};
    if (v.isArray()) return Bytes(v.array().bytes());
    if (v.isString()) return Bytes(v.toString());
    binding::TypeMismatch("an array of bytes", v);
  }
  static Variant to(const Bytes& b) { return Variant(VariantArray::ofBytes(b)); }
  static std::string name() { return "Byte()"; }
};
template <>
struct Convert<Variant> {
  static Variant from(const Variant& v) { return v; }
  static Variant to(const Variant& v) { return v; }
  static std::string name() { return "Variant"; }
};
template <class E>
struct Convert<E, std::enable_if_t<std::is_enum_v<E>>> {
  static E from(const Variant& v) { return static_cast<E>(v.toInt32()); }
  static Variant to(E e) { return Variant(static_cast<std::int32_t>(e)); }
  static std::string name() { return binding::ShortTypeName(typeid(E)); }
};
template <class T>
struct Convert<std::shared_ptr<T>, std::enable_if_t<std::is_base_of_v<Object, T>>> {
  static std::shared_ptr<T> from(const Variant& v) {
    if (v.isEmpty() || v.isNull() || (v.isObject() && !v.isSetObject())) return nullptr;
    if (auto p = v.as<T>()) return p;
    binding::TypeMismatch("a " + name() + " object", v);
  }
  static Variant to(const std::shared_ptr<T>& p) { return binding::ObjectVariant(p); }
  static std::string name() { return binding::ShortTypeName(typeid(T)); }
};
// Documents and nodes also come as XML text; a text that does not parse
// raises the parser's number with its reason.
template <>
struct Convert<std::shared_ptr<DomDocument>> {
  static std::shared_ptr<DomDocument> from(const Variant& v) { return binding::DocumentFrom(v); }
  static Variant to(const std::shared_ptr<DomDocument>& p);
  static std::string name() { return "DomDocument"; }
};
template <>
struct Convert<std::shared_ptr<DomNode>> {
  static std::shared_ptr<DomNode> from(const Variant& v) { return binding::NodeFrom(v); }
  static Variant to(const std::shared_ptr<DomNode>& p);
  static std::string name() { return "DomNode"; }
};
template <class T>
struct Convert<std::vector<T>> {
  static std::vector<T> from(const Variant& v) {
    std::vector<T> out;
    if (v.isEmpty() || v.isNull()) return out;
    if (!v.isArray() || v.array().dimensions() != 1) binding::TypeMismatch("a one-dimensional array", v);
    for (const Variant& e : v.array().elements()) out.push_back(Convert<T>::from(e));
    return out;
  }
  static Variant to(const std::vector<T>& items) {
    std::vector<Variant> out;
    out.reserve(items.size());
    for (const T& e : items) out.push_back(Convert<T>::to(e));
    return Variant(VariantArray(std::move(out)));
  }
  static std::string name() { return Convert<T>::name() + "()"; }
};
template <class T, std::size_t N>
struct Convert<std::array<T, N>> {
  static std::array<T, N> from(const Variant& v) {
    const VariantArray& a = v.array();  // raises Type mismatch for anything else
    if (a.dimensions() != 1) binding::TypeMismatch("a one-dimensional array", v);
    if (a.size() < N)
      throw Error(hr::kSubscript, "Quillon",
                  "Subscript out of range: an array of " + std::to_string(N) + " values is expected, " +
                      std::to_string(a.size()) + " given");
    std::array<T, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = Convert<T>::from(a.elements()[i]);
    return out;
  }
  static Variant to(const std::array<T, N>& items) {
    std::vector<Variant> out;
    for (const T& e : items) out.push_back(Convert<T>::to(e));
    return Variant(VariantArray(std::move(out)));
  }
  static std::string name() { return Convert<T>::name() + "(0 To " + std::to_string(N - 1) + ")"; }
};

namespace binding {

template <class P>
using Stored = std::remove_cvref_t<P>;
// A non-const lvalue reference: the caller's slot is written back.
template <class P>
inline constexpr bool kByRef = std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;

template <class... A>
struct List {
  static constexpr std::size_t size = sizeof...(A);
};

// Result type, object type (void for free functions) and parameters of a callable.
template <class F>
struct FnTraits;
template <class R, class C, class... A>
struct FnTraits<R (C::*)(A...)> {
  using Ret = R;
  using Self = C;
  using Params = List<A...>;
};
template <class R, class C, class... A>
struct FnTraits<R (C::*)(A...) const> : FnTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct FnTraits<R (C::*)(A...) noexcept> : FnTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct FnTraits<R (C::*)(A...) const noexcept> : FnTraits<R (C::*)(A...)> {};
template <class R, class... A>
struct FnTraits<R (*)(A...)> {
  using Ret = R;
  using Self = void;
  using Params = List<A...>;
};
template <class R, class... A>
struct FnTraits<R (*)(A...) noexcept> : FnTraits<R (*)(A...)> {};

// The parameters of a typed lambda after its first (the object).
template <class L>
struct LambdaTraits;
template <class R, class C, class Self, class... A>
struct LambdaTraits<R (C::*)(Self, A...) const> {
  using Ret = R;
  using Params = List<A...>;
};
template <class R, class C, class Self, class... A>
struct LambdaTraits<R (C::*)(Self, A...)> : LambdaTraits<R (C::*)(Self, A...) const> {};

// The wire signature: the C++ one, or the one given.
template <class Wire, class Ret, class Params>
struct WireOf {
  using R = Ret;
  using P = Params;
};
template <class WR, class... WA, class Ret, class Params>
struct WireOf<WR(WA...), Ret, Params> {
  using R = WR;
  using P = List<WA...>;
};

template <std::size_t I, class L>
struct At;
template <std::size_t I, class A0, class... A>
struct At<I, List<A0, A...>> : At<I - 1, List<A...>> {};
template <class A0, class... A>
struct At<0, List<A0, A...>> {
  using type = A0;
};

// What a registered method keeps: where it belongs and how each argument travels.
struct Plan {
  std::string source;  // "Quillon.Utility"
  std::string label;   // "Utility.GetDocType"
  std::vector<std::string> names;
  std::vector<bool> read;       // false for output-only parameters
  std::vector<bool> writeBack;  // by reference
};

// Rethrows a conversion failure of argument `index` with the parameter named.
[[noreturn]] void ArgumentFailed(const Plan& plan, std::size_t index);
// Builds the MethodInfo's parameter list and checks the entries against the
// signature (directions given as `byRef`, type names as `types`); raises
// std::logic_error for a registration error.
std::vector<ParamInfo> Describe(const ClassInfo& cls, const std::string& method, const Param* params, std::size_t n,
                                const std::vector<bool>& byRef, const std::vector<std::string>& types, Plan& plan);
[[noreturn]] void BadDefault(const Plan& plan, std::size_t index);

template <class S>
S Read(const Plan& plan, std::vector<Variant>& a, std::size_t i) {
  if (!plan.read[i]) return S{};
  try {
    return Convert<S>::from(a[i]);
  } catch (const Error&) {
    ArgumentFailed(plan, i);
  }
}

// Converts the arguments (wire types W...), calls `call` with them cast to
// the C++ parameter types P..., writes the by-reference ones back and
// converts the result.
template <class WR, class R, class WL, class PL>
struct Invoker;
template <class WR, class R, class... W, class... P>
struct Invoker<WR, R, List<W...>, List<P...>> {
  static_assert(sizeof...(W) == sizeof...(P), "the wire signature must have as many parameters as the method");
  static_assert(((kByRef<W> == kByRef<P>) && ...),
                "the wire signature must take by reference exactly the parameters the method takes by reference");

  static std::vector<bool> byRef() { return {kByRef<P>...}; }
  static std::vector<std::string> types() { return {Convert<Stored<W>>::name()...}; }
  static std::string returnType() {
    if constexpr (std::is_void_v<WR>)
      return "";
    else
      return Convert<Stored<WR>>::name();
  }
  // Each default of a read parameter must convert to its type.
  static void checkDefaults(const Plan& plan, const std::vector<ParamInfo>& params) {
    checkDefaults(plan, params, std::index_sequence_for<W...>{});
  }
  template <std::size_t... I>
  static void checkDefaults(const Plan& plan, const std::vector<ParamInfo>& params, std::index_sequence<I...>) {
    auto check = [&](std::size_t i, auto convert) {
      if (!plan.read[i] || !params[i].defaultValue) return;
      try {
        convert(*params[i].defaultValue);
      } catch (...) {
        BadDefault(plan, i);
      }
    };
    (check(I, [](const Variant& v) { (void)Convert<Stored<W>>::from(v); }), ...);
    (void)check;
  }

  template <class Call>
  static Variant run(const Plan& plan, std::vector<Variant>& a, Call&& call) {
    return run(plan, a, std::forward<Call>(call), std::index_sequence_for<W...>{});
  }
  template <class Call, std::size_t... I>
  static Variant run(const Plan& plan, std::vector<Variant>& a, Call&& call, std::index_sequence<I...>) {
    // Braced initialisation converts the arguments in order.
    std::tuple<Stored<W>...> locals{Read<Stored<W>>(plan, a, I)...};
    auto writeBack = [&] {
      ((plan.writeBack[I] ? (void)(a[I] = Convert<Stored<W>>::to(std::get<I>(locals))) : (void)0), ...);
    };
    try {
      if constexpr (std::is_void_v<WR>) {
        call(static_cast<P>(std::get<I>(locals))...);
        writeBack();
        return Variant();
      } else {
        Variant result = Convert<Stored<WR>>::to(static_cast<WR>(call(static_cast<P>(std::get<I>(locals))...)));
        writeBack();
        return result;
      }
    } catch (...) {
      try {
        writeBack();
      } catch (...) {
      }
      throw;
    }
  }
};

template <class Inv, class T, class Call>
MethodInfo MakeMethod(const ClassInfo& cls, std::string name, const Param* params, std::size_t n, Call call) {
  auto plan = std::make_shared<Plan>();
  MethodInfo m;
  m.params = Describe(cls, name, params, n, Inv::byRef(), Inv::types(), *plan);
  Inv::checkDefaults(*plan, m.params);
  m.returnType = Inv::returnType();
  m.name = std::move(name);
  m.fn = [plan, call = std::move(call)](Object& self, std::vector<Variant>& a) {
    return Inv::run(*plan, a, [&](auto&&... args) -> decltype(auto) {
      return call(static_cast<T&>(self), std::forward<decltype(args)>(args)...);
    });
  };
  return m;
}

template <auto F, class Wire>
struct Bound {
  using Traits = FnTraits<decltype(F)>;
  using Sig = WireOf<Wire, typename Traits::Ret, typename Traits::Params>;
  using Inv = Invoker<typename Sig::R, typename Traits::Ret, typename Sig::P, typename Traits::Params>;
  static constexpr std::size_t arity = Traits::Params::size;

  template <class T>
  static MethodInfo make(const ClassInfo& cls, std::string name, const Param* params, std::size_t n) {
    if constexpr (std::is_void_v<typename Traits::Self>) {
      return MakeMethod<Inv, T>(cls, std::move(name), params, n,
                                [](T&, auto&&... args) -> decltype(auto) { return F(std::forward<decltype(args)>(args)...); });
    } else {
      static_assert(std::is_base_of_v<typename Traits::Self, T>, "the method must belong to the class being built");
      return MakeMethod<Inv, T>(cls, std::move(name), params, n, [](T& self, auto&&... args) -> decltype(auto) {
        return (self.*F)(std::forward<decltype(args)>(args)...);
      });
    }
  }
};

template <class Fn>
struct BoundLambda {
  using Traits = LambdaTraits<decltype(&Fn::operator())>;
  using Inv = Invoker<typename Traits::Ret, typename Traits::Ret, typename Traits::Params, typename Traits::Params>;
  static constexpr std::size_t arity = Traits::Params::size;

  template <class T>
  static MethodInfo make(const ClassInfo& cls, std::string name, const Param* params, std::size_t n, Fn fn) {
    return MakeMethod<Inv, T>(cls, std::move(name), params, n, [fn = std::move(fn)](T& self, auto&&... args) -> decltype(auto) {
      return fn(self, std::forward<decltype(args)>(args)...);
    });
  }
};

}  // namespace binding
}  // namespace quillon

// Methods registered with ClassBuilder::bind, called by name as the
// command line and plug-ins call them.
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "platform/Binding.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/XmlDom.h"

namespace quillon {
namespace {

enum class Colour : std::int32_t { Red = 10, Green = 20 };

// A class whose methods cover the conversions, directions and defaults.
class Sample : public Object {
 public:
  const ClassInfo* classInfo() const override;

  std::string Describe(std::int16_t i16, std::int32_t i32, std::uint8_t y, bool b, double d, const std::string& s) {
    calls++;
    return std::to_string(i16) + "|" + std::to_string(i32) + "|" + std::to_string(y) + "|" + (b ? "T" : "F") + "|" +
           std::to_string(d) + "|" + s;
  }
  // i_sText in-out, o_lLength output only.
  bool Measure(std::string& io_sText, std::int32_t& o_lLength) {
    o_lLength = static_cast<std::int32_t>(io_sText.size());
    io_sText += "!";
    return true;
  }
  // Sets its output, then raises.
  void Refuse(const std::string& i_sFilter, std::string& o_sErrors) {
    o_sErrors = "refused: " + i_sFilter;
    throw Error(hr::kInvalidArg, "Test.Sample.Refuse", "the filter is refused");
  }
  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
  Colour Next(Colour c) { return c == Colour::Red ? Colour::Green : Colour::Red; }
  std::size_t Count(const std::vector<std::string>& items) {
    last = items;
    return items.size();
  }
  std::vector<std::string> Split(const std::string& s) { return {s.substr(0, 1), s.substr(1)}; }
  std::string Join3(const std::array<std::string, 3>& parts) { return parts[0] + parts[1] + parts[2]; }
  std::string RootName(const std::shared_ptr<DomDocument>& doc) { return doc ? doc->documentElement()->nodeName() : "none"; }
  std::int32_t Size(const std::shared_ptr<Dictionary>& d) { return d ? static_cast<std::int32_t>(d->Count()) : -1; }
  void Stamp(const std::shared_ptr<Dictionary>& d) { d->SetItem("stamped", Variant(true)); }
  Variant Echo(const Variant& v) { return v; }

  int calls = 0;
  std::vector<std::string> last;
};

std::string Greeting(const std::string& name) { return "hello " + name; }

const ClassInfo* Sample::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Sample>("Test.Sample")
          .bind<&Sample::Describe>("Describe", {"i16", "i32", "y", "b", "d", opt("s", "none")})
          .bind<&Sample::Measure>("Measure", {"io_sText", out("o_lLength", Variant())})
          .bind<&Sample::Refuse>("Refuse", {"i_sFilter", out("o_sErrors")})
          .bind<&Sample::Add>("Add", {"a", opt("b", 10)})
          .bind<&Sample::Next>("Next", {"c"})
          .bind<&Sample::Count, std::int32_t(std::vector<std::string>)>("Count", {"items"})
          .bind<&Sample::Split>("Split", {"s"})
          .bind<&Sample::Join3>("Join3", {"parts"})
          .bind<&Sample::RootName>("RootName", {"doc"})
          .bind<&Sample::Size>("Size", {opt("d", Variant())})
          .bind<&Sample::Stamp>("Stamp", {ref("d")})
          .bind<&Sample::Echo>("Echo", {"v"})
          .bind<&Sample::Add, std::int16_t(std::int16_t, std::int16_t)>("AddSmall", {"a", "b"})
          .bind<&Greeting>("Greeting", {"name"})
          .bind("Twice", {"n"}, [](Sample& s, std::int32_t n) { return s.Add(n, n); })
          .bind<&Sample::Join3, Bytes(std::array<std::string, 3>)>("JoinBytes", {"parts"})
          .done();
  return info;
}

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override { Sample().classInfo(); }
  Variant call(const std::string& method, std::vector<Variant>& args) { return sample.invoke(method, args); }
  Variant call(const std::string& method, std::vector<Variant>&& args) { return sample.invoke(method, args); }
  const MethodInfo& method(const std::string& name) { return *sample.classInfo()->find(name); }
  // The number and description of what a call raises (0 when it does not).
  std::pair<std::int32_t, std::string> failure(const std::string& method, std::vector<Variant> args) {
    try {
      sample.invoke(method, args);
    } catch (const Error& e) {
      return {e.number(), e.description()};
    }
    return {0, ""};
  }
  Sample sample;
};

TEST_F(BindingTest, ArgumentsConvertByTheAutomationRules) {
  EXPECT_EQ(call("Describe", {Variant("7"), Variant(2.5), Variant(255), Variant("True"), Variant(1), Variant()}).toString(),
            "7|2|255|T|1.000000|");  // 2.5 rounds half-even; Empty text is ""
  EXPECT_EQ(call("Describe", {Variant(1), Variant(3.5), Variant(0), Variant(0), Variant("0.25"), Variant::null()}).toString(),
            "1|4|0|F|0.250000|");
  // A left-out optional argument takes its default.
  EXPECT_EQ(call("Describe", {Variant(1), Variant(1), Variant(1), Variant(true), Variant(1)}).toString(),
            "1|1|1|T|1.000000|none");
  EXPECT_EQ(call("Next", {Variant(10)}).toInt32(), 20);
  EXPECT_EQ(call("Greeting", {Variant("ann")}).toString(), "hello ann");
  EXPECT_EQ(call("Twice", {Variant(21)}).toInt32(), 42);
  EXPECT_EQ(call("Echo", {Variant::null()}).type(), VarType::Null);
}

TEST_F(BindingTest, ResultsKeepTheirAutomationTypes) {
  EXPECT_EQ(call("Add", {Variant(2), Variant(3)}).type(), VarType::Int32);
  Variant small = call("AddSmall", {Variant(2), Variant(3)});
  EXPECT_EQ(small.type(), VarType::Int16);
  EXPECT_EQ(small.toInt32(), 5);
  EXPECT_EQ(call("Next", {Variant(20)}).type(), VarType::Int32);
  Variant split = call("Split", {Variant("abc")});
  ASSERT_TRUE(split.isArray());
  EXPECT_EQ(split.array().at(1).toString(), "bc");
  Variant bytes = call("JoinBytes", {Variant(VariantArray::ofStrings({"A", "B", "C"}))});
  ASSERT_TRUE(bytes.isArray());
  EXPECT_EQ(bytes.array().elements()[0].type(), VarType::Byte);
  EXPECT_EQ(bytes.array().bytes(), "ABC");
}

TEST_F(BindingTest, ArraysObjectsAndDocumentsConvert) {
  EXPECT_EQ(call("Count", {Variant(VariantArray::ofStrings({"a", "b", "c"}))}).toInt32(), 3);
  EXPECT_EQ(sample.last, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(call("Count", {Variant()}).toInt32(), 0);  // Empty is the empty array
  EXPECT_EQ(call("Join3", {Variant(VariantArray::ofStrings({"x", "y", "z", "ignored"}))}).toString(), "xyz");
  EXPECT_EQ(failure("Join3", {Variant(VariantArray::ofStrings({"x", "y"}))}).first, hr::kSubscript);

  auto dict = std::make_shared<Dictionary>();
  dict->Add("k", Variant(1));
  EXPECT_EQ(call("Size", {Variant(dict)}).toInt32(), 1);
  EXPECT_EQ(call("Size", {}).toInt32(), -1);                              // Empty is no object
  EXPECT_EQ(call("Size", {Variant(std::shared_ptr<Object>())}).toInt32(), -1);  // so is Nothing

  // A document comes as an object or, from the command line, as its text.
  auto doc = std::make_shared<DomDocument>();
  ASSERT_TRUE(doc->loadXML("<ORDER/>"));
  EXPECT_EQ(call("RootName", {Variant(doc)}).toString(), "ORDER");
  EXPECT_EQ(call("RootName", {Variant("<INVOICE><N>1</N></INVOICE>")}).toString(), "INVOICE");
  auto [number, description] = failure("RootName", {Variant("<INVOICE>")});
  EXPECT_NE(number, 0);
  EXPECT_NE(number, hr::kTypeMismatch);  // the parser's own number
  EXPECT_NE(description.find("argument 1, doc, of Sample.RootName"), std::string::npos) << description;
}

TEST_F(BindingTest, AWrongTypeIsATypeMismatchAndTheMethodIsNotCalled) {
  auto [number, description] =
      failure("Describe", {Variant(1), Variant("many"), Variant(1), Variant(true), Variant(1), Variant("s")});
  EXPECT_EQ(number, hr::kTypeMismatch);
  EXPECT_NE(description.find("argument 2, i32, of Sample.Describe"), std::string::npos) << description;
  EXPECT_EQ(sample.calls, 0);

  EXPECT_EQ(failure("Describe", {Variant(40000), Variant(1), Variant(1), Variant(true), Variant(1)}).first, hr::kOverflow);
  EXPECT_EQ(failure("Size", {Variant("not a dictionary")}).first, hr::kTypeMismatch);
  EXPECT_EQ(failure("Size", {Variant(std::make_shared<DomDocument>())}).first, hr::kTypeMismatch);
  EXPECT_EQ(failure("Count", {Variant(std::make_shared<Dictionary>())}).first, hr::kTypeMismatch);
  EXPECT_EQ(failure("Greeting", {Variant(VariantArray::ofStrings({"a"}))}).first, hr::kTypeMismatch);
  EXPECT_EQ(failure("RootName", {Variant(12)}).first, hr::kTypeMismatch);
  EXPECT_EQ(failure("JoinBytes", {Variant("xyz")}).first, hr::kTypeMismatch);
}

TEST_F(BindingTest, WrongArgumentCountsAreRefused) {
  EXPECT_EQ(failure("Add", {Variant(1), Variant(2), Variant(3)}).first, hr::kWrongArgCount);
  EXPECT_EQ(failure("Add", {}).first, hr::kWrongArgCount);
  EXPECT_EQ(failure("Refuse", {Variant("f")}).first, hr::kWrongArgCount);  // a required output
  EXPECT_EQ(call("Add", {Variant(1)}).toInt32(), 11);
}

TEST_F(BindingTest, ByReferenceArgumentsAreWrittenBack) {
  // In-out: read, then written back; output only: never read.
  std::vector<Variant> args{Variant("abc"), Variant("not a number")};
  EXPECT_TRUE(call("Measure", args).toBool());
  EXPECT_EQ(args[0].toString(), "abc!");
  EXPECT_EQ(args[1].type(), VarType::Int32);
  EXPECT_EQ(args[1].toInt32(), 3);
  // A left-out output is still there after the call.
  std::vector<Variant> one{Variant("xy")};
  call("Measure", one);
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].toInt32(), 2);
  // By value: the caller's argument stays as given.
  std::vector<Variant> sum{Variant("4"), Variant(5)};
  call("Add", sum);
  EXPECT_EQ(sum[0].type(), VarType::String);
}

TEST_F(BindingTest, OutputsAreWrittenBackAlsoWhenTheMethodRaises) {
  std::vector<Variant> args{Variant("DOCUMENT.X; DROP"), Variant()};
  EXPECT_THROW(call("Refuse", args), Error);
  EXPECT_EQ(args[1].toString(), "refused: DOCUMENT.X; DROP");
}

TEST_F(BindingTest, AByValueObjectListedByRefIsHandedBackAsTheMethodLeftIt) {
  auto dict = std::make_shared<Dictionary>();
  std::vector<Variant> args{Variant(dict)};
  call("Stamp", args);
  auto back = args[0].as<Dictionary>();
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->Item("stamped").toBool());
}

TEST_F(BindingTest, TheDescriptionComesFromTheSignature) {
  const MethodInfo& measure = method("Measure");
  EXPECT_EQ(measure.returnType, "Boolean");
  ASSERT_EQ(measure.params.size(), 2u);
  EXPECT_EQ(measure.params[0].direction, Direction::InOut);
  EXPECT_TRUE(measure.params[0].byRef);
  EXPECT_EQ(measure.params[0].type, "String");
  EXPECT_EQ(measure.params[1].direction, Direction::Out);
  EXPECT_EQ(measure.params[1].type, "Long");

  const MethodInfo& describe = method("Describe");
  std::vector<std::string> types;
  for (const ParamInfo& p : describe.params) {
    types.push_back(p.type);
    EXPECT_EQ(p.direction, Direction::In);
    EXPECT_FALSE(p.byRef);
  }
  EXPECT_EQ(types, (std::vector<std::string>{"Integer", "Long", "Byte", "Boolean", "Double", "String"}));
  EXPECT_TRUE(describe.params[5].optional());

  EXPECT_EQ(method("Stamp").params[0].direction, Direction::InOut);
  EXPECT_EQ(method("Stamp").params[0].type, "Dictionary");
  EXPECT_EQ(method("Stamp").returnType, "");
  EXPECT_EQ(method("Next").params[0].type, "Colour");
  EXPECT_EQ(method("Count").params[0].type, "String()");
  EXPECT_EQ(method("Join3").params[0].type, "String(0 To 2)");
  EXPECT_EQ(method("JoinBytes").returnType, "Byte()");
  EXPECT_EQ(method("RootName").params[0].type, "DomDocument");
  EXPECT_EQ(method("AddSmall").returnType, "Integer");
}

TEST(BindingRegistration, MistakesInTheParameterListFailWhenTheClassLoads) {
  // Output-only on a by-value parameter.
  EXPECT_THROW(ClassBuilder<Sample>("Test.BadOut").bind<&Sample::Add>("Add", {"a", out("b")}), std::logic_error);
  // A name listed twice.
  EXPECT_THROW(ClassBuilder<Sample>("Test.Twice").bind<&Sample::Add>("Add", {"a", "A"}), std::logic_error);
  // A default that is no number for a number.
  EXPECT_THROW(ClassBuilder<Sample>("Test.BadDefault").bind<&Sample::Add>("Add", {"a", opt("b", "ten")}),
               std::logic_error);
}

}  // namespace
}  // namespace quillon

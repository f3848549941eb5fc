// Utility: plug-ins named by method-call strings.
#include "delivery/IMethodCall.h"
#include "foundation/General.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

namespace {

struct MethodCallParts {
  std::string className;
  std::string method;
};

// The class part runs to the second dot; the method part is everything after it.
MethodCallParts split(const std::string& s) {
  long first = text::InStr(1, s, ".");
  long second = first > 0 ? text::InStr(first + 1, s, ".") : 0;
  if (second == 0) return {s, ""};
  return {text::Left(s, second - 1), text::Mid(s, second + 1)};
}

std::string notFoundInfo(const std::string& s) {
  return "object " + s + " not found or method called with wrong number/type of arguments";
}

// Calls `member` by name with one by-reference argument; the answer as Boolean.
bool callByName(Object& plugin, const std::string& member, Variant& argument) {
  std::vector<Variant> args{argument};
  Variant answer = plugin.invoke(member, args);
  argument = std::move(args[0]);
  return answer.toBool();
}

// The shared road of CallMethod and CallMethodForExcel.
template <class ContractCall>
bool callPlugin(const std::string& methodCall, Variant& argument, const std::string& lateBoundMember,
                ContractCall&& contractCall) {
  MethodCallParts parts = split(methodCall);
  std::shared_ptr<Object> plugin;
  IMethodCall* contract = nullptr;
  try {
    plugin = Registry::instance().create(parts.className);
    contract = dynamic_cast<IMethodCall*>(plugin.get());
  } catch (...) {
    // Remembered only: the plain creation below reports the failure.
  }
  if (!contract) {
    plugin = Registry::instance().create(parts.className);
    return callByName(*plugin, parts.method.empty() ? lateBoundMember : parts.method, argument);
  }
  if (!parts.method.empty()) return callByName(*plugin, parts.method, argument);
  return contractCall(*contract, argument);
}

}  // namespace

Variant Utility::GetClass(const std::string& iDllClassMethodString) {
  return General::Guarded("Quillon.Utility.GetClass", [&] { return Variant(split(iDllClassMethodString).className); });
}

Variant Utility::GetMethod(const std::string& iDllClassMethodString) {
  return General::Guarded("Quillon.Utility.GetMethod", [&] { return Variant(split(iDllClassMethodString).method); });
}

bool Utility::CallMethod(const std::string& iDllClassMethodString, Variant& iArguments) {
  return General::Guarded(
      "Quillon.Utility.CallMethod", [&] { return notFoundInfo(iDllClassMethodString); },
      [&] {
        return callPlugin(iDllClassMethodString, iArguments, "IMethodCall_MethodCall",
                          [](IMethodCall& c, Variant& a) { return c.MethodCall(a); });
      });
}

bool Utility::CallMethodForExcel(const std::string& iDllClassMethodString, Variant& i_oExcelWorkBook,
                                 const std::string& i_sFilePathTemplate) {
  try {
    bool answer = callPlugin(iDllClassMethodString, i_oExcelWorkBook, "IMethodCall_GetExcelWorkBook",
                             [](IMethodCall& c, Variant& w) { return c.GetExcelWorkBook(w); });
    if (!i_sFilePathTemplate.empty()) {
      // The workbook file made from a template is a temporary copy.
      Variant files = General::B2B_getComponent("Quillon.FileHandling");
      if (files.isSetObject()) {
        std::vector<Variant> args{Variant(i_sFilePathTemplate)};
        files.object()->invoke("DeleteFileFromDisk", args);
      }
    }
    return answer;
  } catch (...) {
    // The workbook stays open for the plug-in only when the call worked.
    if (i_oExcelWorkBook.isSetObject() && i_oExcelWorkBook.object()->hasMethod("Close")) {
      try {
        std::vector<Variant> none;
        i_oExcelWorkBook.object()->invoke("Close", none);
      } catch (...) {
        // Closing is clean-up; the original failure is what the caller sees.
      }
    }
    General::ReRaiseError("Quillon.Utility.CallMethod_Excel", notFoundInfo(iDllClassMethodString));
    throw;
  }
}

bool Utility::CheckMethodCall(const std::string& iDllClassMethodString) {
  return General::Guarded("Quillon.Utility.CheckMethodCall", [&] {
    std::string className = split(iDllClassMethodString).className;
    try {
      Registry::instance().create(className);
      return true;
    } catch (...) {
      return false;
    }
  });
}

}  // namespace quillon

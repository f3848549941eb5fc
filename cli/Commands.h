// The by-name commands of `quillon`: finding and creating classes, the JSON
// of errors and outputs, `describe` and `session`.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon::cli {

// A class callable by name ("XML", "Quillon.XML", "Scripting.Dictionary");
// with `modules`, also the component's runtime modules. nullptr when none.
const ClassInfo* FindClass(const std::string& name, bool modules);
// A new object of the class; raises 0x800A01AD for an unknown or
// non-creatable class (saying so when the name is a module and the
// operator switch is off).
std::shared_ptr<Object> CreateObject(const std::string& name, bool modules);

// {"number": "0x8004020C", "source": ..., "description": ...}
Json ErrorJson(const ErrorInfo& e);
// The by-reference arguments after a call, by parameter name.
Json OutputsJson(const MethodInfo* method, const std::vector<Variant>& args, const ObjectEncoder* objects = nullptr);

// One line: Name(in a As String, [in-out b As Long = 0]) As Boolean
std::string Signature(const MethodInfo& m);
// The class and one signature line per method.
void DescribeClass(std::ostream& out, const ClassInfo& cls);
// The signature and one line per parameter.
void DescribeMethod(std::ostream& out, const ClassInfo& cls, const MethodInfo& m);

// Reads one JSON request per line from `in` and writes one JSON answer per
// line to `out`, in order, until the end of input (see --help).
int RunSession(std::istream& in, std::ostream& out, bool modules);

}  // namespace quillon::cli

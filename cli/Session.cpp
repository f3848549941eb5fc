// quillon session: one JSON request per line, one JSON answer per line.
//
// Objects that a result or an output carries stay alive in a handle table
// until the client releases them or the input ends; the same object always
// has the same handle.
#include <iostream>
#include <map>
#include <string>

#include "cli/Commands.h"

namespace quillon::cli {

namespace {

class Session {
 public:
  explicit Session(bool modules) : modules_(modules) {
    lookup_ = [this](long long handle) { return object(handle); };
    encode_ = [this](const std::shared_ptr<Object>& o) {
      Json j{{"handle", keep(o)}};
      if (auto value = DataValue(o)) j["value"] = std::move(*value);
      return j;
    };
  }

  Json answer(const std::string& line) {
    Json request = Json::parse(line, nullptr, false);
    if (request.is_discarded() || !request.is_object())
      return failure(Json(), "the request is not a JSON object: " + line);
    Json id = request.contains("id") ? request["id"] : Json();
    try {
      int kinds = request.contains("create") + request.contains("call") + request.contains("release");
      if (kinds != 1) return failure(id, "a request holds exactly one of \"create\", \"call\" and \"release\"");
      if (request.contains("create")) {
        if (!request["create"].is_string()) return failure(id, "\"create\" takes a class name");
        return Json{{"id", id}, {"result", Json{{"handle", keep(CreateObject(request["create"].get<std::string>(), modules_))}}}};
      }
      if (request.contains("release")) {
        if (!request["release"].is_number_integer()) return failure(id, "\"release\" takes a handle");
        long long handle = request["release"].get<long long>();
        std::shared_ptr<Object> o = object(handle);
        handles_.erase(o.get());
        objects_.erase(handle);
        return Json{{"id", id}, {"result", nullptr}};
      }
      return call(id, request);
    } catch (const TooDeep& e) {
      return failure(id, e.what());
    } catch (...) {
      return Json{{"id", id}, {"error", ErrorJson(ErrorInfo::current())}};
    }
  }

 private:
  Json call(const Json& id, const Json& request) {
    if (!request["call"].is_string()) return failure(id, "\"call\" takes a method name");
    std::string target = request["call"].get<std::string>();
    const Json& rawArgs = request.contains("args") ? request["args"] : Json::array();
    if (!rawArgs.is_array()) return failure(id, "\"args\" is an array of arguments");

    std::shared_ptr<Object> target_object;
    std::string method = target;
    if (request.contains("on")) {
      if (!request["on"].is_number_integer()) return failure(id, "\"on\" takes a handle");
      target_object = object(request["on"].get<long long>());
    } else {
      auto dot = target.rfind('.');
      if (dot == std::string::npos || dot == 0 || dot + 1 == target.size())
        return failure(id, "without \"on\", \"call\" is written Class.Method, not '" + target + "'");
      method = target.substr(dot + 1);
      target_object = CreateObject(target.substr(0, dot), modules_);
    }
    std::vector<Variant> args;
    for (const Json& a : rawArgs) args.push_back(FromJson(a, &lookup_));

    const ClassInfo* ci = target_object->classInfo();
    const MethodInfo* mi = ci ? ci->find(method) : nullptr;
    try {
      Variant result = target_object->invoke(method, args);
      Json answer{{"id", id}, {"result", ToJson(result, &encode_)}};
      answer["outputs"] = OutputsJson(mi, args, &encode_);
      return answer;
    } catch (const TooDeep&) {
      throw;
    } catch (...) {
      Json answer{{"id", id}, {"error", ErrorJson(ErrorInfo::current())}};
      if (mi) answer["outputs"] = OutputsJson(mi, args, &encode_);
      return answer;
    }
  }

  // The handle of an object, given one the first time it is seen.
  long long keep(const std::shared_ptr<Object>& o) {
    auto it = handles_.find(o.get());
    if (it != handles_.end()) return it->second;
    long long handle = next_++;
    objects_[handle] = o;
    handles_[o.get()] = handle;
    return handle;
  }

  std::shared_ptr<Object> object(long long handle) const {
    auto it = objects_.find(handle);
    if (it == objects_.end())
      throw Error(hr::kObjectRequired, "quillon session", "Object required: there is no object with handle " + std::to_string(handle));
    return it->second;
  }

  static Json failure(const Json& id, const std::string& description) {
    return Json{{"id", id}, {"error", ErrorJson(ErrorInfo{hr::kInvalidArg, "quillon session", description})}};
  }

  bool modules_;
  long long next_ = 1;
  std::map<long long, std::shared_ptr<Object>> objects_;
  std::map<const Object*, long long> handles_;
  HandleLookup lookup_;
  ObjectEncoder encode_;
};

}  // namespace

int RunSession(std::istream& in, std::ostream& out, bool modules) {
  Session session(modules);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    out << session.answer(line).dump(-1, ' ', false, Json::error_handler_t::replace) << "\n" << std::flush;
  }
  return 0;  // the session's objects are released with it
}

}  // namespace quillon::cli

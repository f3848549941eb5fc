#include "foundation/TSendMethodProperties.h"

#include <functional>
#include <vector>

#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon {
namespace {

// One field of the record: its name, how a Variant goes in and how it comes out.
struct FieldAccess {
  const char* name;
  std::function<void(TSendMethodProperties&, const Variant&)> set;
  std::function<Variant(const TSendMethodProperties&)> get;
};

template <class E>
FieldAccess enumField(const char* name, E TSendMethodProperties::*member) {
  return {name, [member](TSendMethodProperties& p, const Variant& v) { p.*member = static_cast<E>(v.toInt32()); },
          [member](const TSendMethodProperties& p) { return Variant(value(p.*member)); }};
}
FieldAccess boolField(const char* name, bool TSendMethodProperties::*member) {
  return {name, [member](TSendMethodProperties& p, const Variant& v) { p.*member = v.toBool(); },
          [member](const TSendMethodProperties& p) { return Variant(p.*member); }};
}
FieldAccess textField(const char* name, std::string TSendMethodProperties::*member) {
  return {name, [member](TSendMethodProperties& p, const Variant& v) { p.*member = v.text(); },
          [member](const TSendMethodProperties& p) { return Variant(p.*member); }};
}
FieldAccess longField(const char* name, std::int32_t TSendMethodProperties::*member) {
  return {name, [member](TSendMethodProperties& p, const Variant& v) { p.*member = v.toInt32(); },
          [member](const TSendMethodProperties& p) { return Variant(p.*member); }};
}

const std::vector<FieldAccess>& fields() {
  using P = TSendMethodProperties;
  static const std::vector<FieldAccess> all{
      boolField("bAutoPush", &P::bAutoPush),
      textField("sXslFileName", &P::sXslFileName),
      textField("sUser", &P::sUser),
      textField("sPassword", &P::sPassword),
      enumField("nFormat", &P::nFormat),
      textField("sProxy", &P::sProxy),
      longField("lProxyPort", &P::lProxyPort),
      longField("lPort", &P::lPort),
      enumField("nProtocol", &P::nProtocol),
      enumField("nWriteMode", &P::nWriteMode),
      textField("sExcelTemplate", &P::sExcelTemplate),
      textField("sFromAddress", &P::sFromAddress),
      textField("sAddress", &P::sAddress),
      textField("sFileName", &P::sFileName),
      textField("sFileExtension", &P::sFileExtension),
      enumField("nSuffix", &P::nSuffix),
      enumField("nFileFormat", &P::nFileFormat),
      enumField("nFileIOMode", &P::nFileIOMode),
      textField("sTempFileName", &P::sTempFileName),
      boolField("bTempFileCanBeRemoved", &P::bTempFileCanBeRemoved),
      enumField("nFTPTransferType", &P::nFTPTransferType),
  };
  return all;
}

}  // namespace

TSendMethodProperties FromDictionary(const Dictionary& d) {
  TSendMethodProperties p;
  for (long i = 0; i < d.Count(); ++i) {
    const auto& [key, item] = d.entry(i);
    const FieldAccess* target = nullptr;
    for (const FieldAccess& f : fields())
      if (equalsIgnoreCase(key, f.name)) target = &f;
    if (!target)
      throw Error(hr::kInvalidArg, "Quillon.TSendMethodProperties",
                  "TSendMethodProperties has no field named '" + key + "'.");
    target->set(p, item);
  }
  return p;
}

std::shared_ptr<Dictionary> ToDictionary(const TSendMethodProperties& p) {
  auto d = std::make_shared<Dictionary>();
  for (const FieldAccess& f : fields()) d->Add(f.name, f.get(p));
  return d;
}

}  // namespace quillon

// LazyModule: heavy outside libraries loaded on first use.
//
// Services whose libraries are large (the mail composer, the spreadsheet
// engine, network clients, ...) are built as separate shared modules named
// "libquillon_NAME.so" beside libquillon_platform.so. A process that never
// uses the service never loads the module or the libraries behind it, so a
// short command (`quillon call ...`) does not pay for them at start-up.
//
// A module exports plain C factory functions; the platform's thin front
// (for example platform/Mail.cpp) looks them up with Symbol() and keeps
// the rest of the component unaware of the split.
//
// Thread-safety: loading is guarded by a mutex; a module, once loaded,
// stays loaded for the life of the process. A module that cannot be
// loaded raises Error (number 0x800A01AD, "ActiveX component can't create
// object") with the loader's reason, and is tried again on the next call.
#pragma once

#include <string>

namespace quillon::LazyModule {

// The folder that holds libquillon_platform.so (and the modules).
std::string Folder();

// Loads "libquillon_<name>.so" from Folder() (once) and returns the
// address of `symbol`. Raises Error when the module or symbol is missing.
void* Symbol(const std::string& name, const char* symbol);

// True when the module loads and exports `symbol`; never raises.
bool Available(const std::string& name, const char* symbol);

// Typed convenience: Function<int(const char*)>("mail", "quillon_mail_send").
template <class Fn>
Fn* Function(const std::string& name, const char* symbol) {
  return reinterpret_cast<Fn*>(Symbol(name, symbol));
}

}  // namespace quillon::LazyModule

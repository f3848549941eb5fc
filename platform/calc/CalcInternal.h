// Shared pieces of the spreadsheet module: text conversion, error
// translation and the connection to the running engine.
#pragma once

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/Spreadsheet.h"

namespace quillon::calc {

namespace css = com::sun::star;
using css::uno::Reference;

inline constexpr const char* kSource = "Quillon.Spreadsheet";

std::string Utf8(const rtl::OUString& s);
rtl::OUString U(const std::string& s);

// Raises Error(hr::kFail) with "<what>: <the engine's message>".
[[noreturn]] void Raise(const std::string& what, const css::uno::Exception& e);
// Registers the engine's exit handler once more (bounded), so that it
// runs before the exit handlers the connection's libraries registered
// during the calls made so far (see Engine::KeepExitLast).
void KeepExitLast();

// Runs `body`; an engine exception becomes Error via Raise(what, …).
template <class F>
decltype(auto) Call(const std::string& what, F&& body) {
  struct Last {
    ~Last() { KeepExitLast(); }
  } last;
  try {
    return body();
  } catch (const css::uno::Exception& e) {
    Raise(what, e);
  }
}

// The running engine (started on demand).
struct Remote {
  Reference<css::uno::XComponentContext> context;
  Reference<css::lang::XMultiComponentFactory> factory;
  Reference<css::frame::XComponentLoader> desktop;
};
Remote Connect();

// Runs `body`; when it has not returned after `limit`, the engine process
// is killed, which makes the pending call fail, and `expired` is set. Used
// where a hostile file could keep the engine busy for ever.
void WithDeadline(std::chrono::milliseconds limit, const std::function<void()>& body, bool& expired);

// Workbooks (CalcWorkbook.cpp).
std::shared_ptr<spreadsheet::Workbook> OpenWorkbook(const std::string& path, bool readOnly);
std::shared_ptr<spreadsheet::Workbook> CreateWorkbook();

}  // namespace quillon::calc

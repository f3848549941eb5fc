// The engine process: one headless office process per calling process,
// started on first use and connected over a private pipe.
//
// Start-up is kept short by a private profile prepared before the first
// launch (the setup version recorded, so the engine skips its first-start
// self-tests; en-US; no lock files beside workbooks; links and macros
// never run). A new profile makes the first launch exit with code 81 once
// after writing itself; the engine is then launched again.
//
// The engine dies with the caller: the child asks the kernel for SIGKILL
// when its parent thread ends (PR_SET_PDEATHSIG). Because that signal
// follows the forking *thread*, every launch is made by one long-lived
// launcher thread, never by the caller's thread. An engine that has died
// is noticed on the next call and started again.
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/Error.h"
#include "platform/calc/CalcInternal.h"
#include "platform/calc/CalcModule.h"

namespace fs = std::filesystem;

namespace quillon::calc {

std::string Utf8(const rtl::OUString& s) {
  rtl::OString o = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(o.getStr(), static_cast<std::size_t>(o.getLength()));
}

rtl::OUString U(const std::string& s) {
  return rtl::OStringToOUString(rtl::OString(s.data(), static_cast<sal_Int32>(s.size())), RTL_TEXTENCODING_UTF8);
}

void Raise(const std::string& what, const css::uno::Exception& e) {
  std::string message = Utf8(e.Message);
  throw Error(hr::kFail, kSource, what + (message.empty() ? std::string(".") : ": " + message));
}

namespace {

constexpr const char* kProgramDir = "/usr/lib/libreoffice/program";
constexpr int kFirstStartExit = 81;
// From launch to a usable connection; a prepared profile needs well under
// a second, a loaded machine more.
constexpr auto kStartLimit = std::chrono::seconds(60);
// How often the exit handler is registered again at most (Engine::KeepExitLast).
constexpr int kExitRegistrations = 4096;

std::string programFile(const char* name) { return std::string(kProgramDir) + "/" + name; }

// "7.4" from the installation's bootstrap file ("ProductKey=LibreOffice 7.4").
std::string installedVersion() {
  std::ifstream in(programFile("bootstraprc"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("ProductKey=", 0) != 0) continue;
    auto blank = line.rfind(' ');
    if (blank != std::string::npos) return line.substr(blank + 1);
  }
  return "7.4";
}

std::string item(const std::string& path, const std::string& name, const std::string& value) {
  return "<item oor:path=\"" + path + "\"><prop oor:name=\"" + name + "\" oor:op=\"fuse\"><value>" + value +
         "</value></prop></item>\n";
}

// The profile settings that make a quick, quiet and safe engine.
std::string profileSettings() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
      "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  xml += item("/org.openoffice.Setup/Product", "ooSetupLastVersion", installedVersion());
  xml += item("/org.openoffice.Setup/L10N", "ooLocale", "en-US");
  xml += item("/org.openoffice.Setup/L10N", "ooSetupSystemLocale", "en-US");
  xml += item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
  xml += item("/org.openoffice.Office.Common/Misc", "UseLocking", "false");
  xml += item("/org.openoffice.Office.Common/Misc", "UseDocumentOOoLockFile", "false");
  xml += item("/org.openoffice.Office.Common/Misc", "UseDocumentSystemFileLocking", "false");
  // Formulas in the spreadsheet's own notation: "Sheet2!A1", "," between arguments.
  xml += item("/org.openoffice.Office.Calc/Formula/Syntax", "Grammar", "1");
  xml += item("/org.openoffice.Office.Calc/Formula/Syntax", "EnglishFunctionName", "true");
  xml += item("/org.openoffice.Office.Calc/Formula/Syntax", "SeparatorArg", ",");
  xml += item("/org.openoffice.Office.Calc/Formula/Syntax", "SeparatorArrayRow", ";");
  xml += item("/org.openoffice.Office.Calc/Formula/Syntax", "SeparatorArrayCol", ",");
  // Workbooks come from outside: never update links, never run macros.
  xml += item("/org.openoffice.Office.Calc/Content/Update", "Link", "1");
  xml += item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
  xml += item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true");
  xml += item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false");
  xml += item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false");
  xml += "</oor:items>\n";
  return xml;
}

std::string tempRoot() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

constexpr const char* kProfilePrefix = "quillon-calc-";

// Profiles and pipe files of processes that no longer exist (killed
// callers) are removed, so killed runs do not fill the temporary folders.
long ownerOf(const std::string& name, const std::string& prefix) {
  if (name.rfind(prefix, 0) != 0) return 0;
  return std::strtol(name.c_str() + prefix.size(), nullptr, 10);
}

bool processExists(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

void removeStaleFiles() {
  const std::string pipePrefix = "OSL_PIPE_" + std::to_string(::getuid()) + "_quillon_calc_" + kProfilePrefix;
  for (const auto& [folder, prefix] : {std::pair<std::string, std::string>{tempRoot(), kProfilePrefix},
                                       std::pair<std::string, std::string>{"/tmp", pipePrefix}}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      long pid = ownerOf(entry.path().filename().string(), prefix);
      if (pid <= 0 || pid == static_cast<long>(::getpid()) || processExists(pid)) continue;
      std::error_code ignored;
      fs::remove_all(entry.path(), ignored);
    }
  }
}

// A profile that has been through its first start, kept per user and
// engine version so that later processes skip the first-start launch.
std::string seedFolder() {
  return tempRoot() + "/" + kProfilePrefix + "seed-" + std::to_string(::getuid()) + "-" + installedVersion();
}

// The seed is used only when this user made it and nobody else can write it.
bool seedUsable(const std::string& seed) {
  struct stat st {};
  if (::lstat(seed.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::getuid() || (st.st_mode & 022) != 0) return false;
  std::error_code ec;
  return fs::exists(seed + "/user/registrymodifications.xcu", ec);
}

// Keeps the profile that has just been through its first start as the seed.
void keepSeed(const std::string& profile) {
  std::string seed = seedFolder();
  std::error_code ec;
  if (fs::exists(seed, ec)) return;
  std::string pattern = seed + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) return;
  std::string staging = buffer.data();
  fs::copy(profile + "/user", staging + "/user", fs::copy_options::recursive, ec);
  // Another process may have made the seed meanwhile; either copy will do.
  if (ec || ::rename(staging.c_str(), seed.c_str()) != 0) fs::remove_all(staging, ec);
}

// A private profile folder; `seeded` tells whether it is a copy of the
// seed (no first-start launch needed).
std::string makeProfile(bool& seeded) {
  std::string pattern = tempRoot() + "/" + kProfilePrefix + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data()))
    throw Error(hr::kCannotCreate, kSource, "cannot create the spreadsheet engine's profile folder in " + tempRoot());
  std::string dir = buffer.data();
  std::string seed = seedFolder();
  std::error_code ec;
  seeded = false;
  if (seedUsable(seed)) {
    fs::copy(seed + "/user", dir + "/user", fs::copy_options::recursive, ec);
    seeded = !ec;
  }
  if (!seeded) {
    fs::remove_all(dir + "/user", ec);
    fs::create_directories(dir + "/user");
    std::ofstream(dir + "/user/registrymodifications.xcu") << profileSettings();
  }
  return dir;
}

// ---- the launcher thread ---------------------------------------------------------------

// Launches children on behalf of other threads, so that the engine's
// parent thread lives as long as the process.
class Launcher {
 public:
  static Launcher& instance() {
    static Launcher* launcher = new Launcher();  // lives for the whole process
    return *launcher;
  }

  // Forks and executes argv (argv[0] is the program) with stdout and
  // stderr going to `logFile`. Returns the child's id or raises.
  pid_t launch(const std::vector<std::string>& argv, const std::string& logFile) {
    std::unique_lock<std::mutex> lock(mutex_);
    request_ = Request{argv, logFile, 0, 0, true};
    wake_.notify_all();
    done_.wait(lock, [&] { return !request_.pending; });
    if (request_.pid <= 0)
      throw Error(hr::kCannotCreate, kSource, std::string("cannot start the spreadsheet engine: ") + std::strerror(request_.error));
    return request_.pid;
  }

 private:
  struct Request {
    std::vector<std::string> argv;
    std::string logFile;
    pid_t pid = 0;
    int error = 0;
    bool pending = false;
  };

  Launcher() {
    std::thread([this] { run(); }).detach();
  }

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return request_.pending; });
      spawn(request_);
      request_.pending = false;
      done_.notify_all();
    }
  }

  static void spawn(Request& r) {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (auto& a : r.argv) args.push_back(a.data());
    args.push_back(nullptr);
    int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int log = ::open(r.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);  // the caller is already gone
      if (devnull >= 0) ::dup2(devnull, 0);
      if (log >= 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
      }
      ::close_range(3, ~0U, 0);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    r.error = pid < 0 ? errno : 0;
    r.pid = pid;
    if (devnull >= 0) ::close(devnull);
    if (log >= 0) ::close(log);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Request request_;
};

// ---- the engine --------------------------------------------------------------------------

class Engine : public spreadsheet::EngineApi {
 public:
  static Engine& instance() {
    // Never destroyed: the connection's objects must not be released while
    // the process is being torn down. The process is stopped at exit.
    static Engine* engine = [] {
      auto* e = new Engine();
      ::on_exit(AtExit, nullptr);
      return e;
    }();
    return *engine;
  }

  // Exit handlers run in the reverse order of their registration, and the
  // connection's libraries register theirs on the first use of a type or
  // of a bridge, from any thread, long after the engine was first asked
  // for. Registered again after the engine's calls, the engine's handler
  // runs before those and ends the process before they destroy objects
  // the connection's threads still use. Bounded: after the first few
  // thousand calls every part of the connection has been used.
  static void KeepExitLast() {
    static std::atomic<int> registrations{0};
    if (registrations.fetch_add(1, std::memory_order_relaxed) < kExitRegistrations) ::on_exit(AtExit, nullptr);
  }

  Remote connect() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ > 0 && !alive()) dropLocked();
    // A process that was just killed may not have been reaped yet while its
    // connection is already gone: ask the engine for something small before
    // handing the connection out, and start a new engine when it is dead.
    if (pid_ > 0 && !respondsLocked()) killLocked();
    if (pid_ <= 0) startLocked();
    KeepExitLast();
    return *remote_;
  }

  std::shared_ptr<spreadsheet::Workbook> open(const std::string& path, bool readOnly) override {
    return OpenWorkbook(path, readOnly);
  }
  std::shared_ptr<spreadsheet::Workbook> create() override { return CreateWorkbook(); }

  bool available() override {
    try {
      connect();
      return true;
    } catch (...) {
      return false;
    }
  }

  long processId() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ > 0 && !alive()) dropLocked();
    return pid_;
  }

  void stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    killLocked();
  }

  // Kills the process without waiting for the lock (deadlines, exit).
  void killNow() {
    pid_t pid = pid_;
    if (pid > 0) ::kill(pid, SIGKILL);
  }

  // At process exit the engine's files are removed and the process ends
  // right there (_exit with the same status, after flushing the standard
  // streams). The connection's threads keep running until the very end and
  // would crash if the runtime's objects were destroyed under them by the
  // remaining exit handlers; no shutdown of the connection stops them
  // reliably. The engine receives SIGKILL from the kernel once this process
  // has ended (see Launcher). Only processes that have used the engine
  // exit this way; exit handlers registered before its last registration
  // (KeepExitLast) do not run in them.
  static void AtExit(int status, void*) { instance().exit(status); }

  void exit(int status) {
    {
      std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
      if (lock.owns_lock()) {
        (void)remote_.release();
        pid_ = 0;
        dropLocked();
      }
    }
    std::fflush(nullptr);
    ::_exit(status);
  }

 private:
  bool respondsLocked() {
    try {
      return remote_ && remote_->context.is() && remote_->context->getServiceManager().is();
    } catch (const css::uno::Exception&) {
      return false;
    }
  }

  bool alive() {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    return r == 0;
  }

  void killLocked() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    dropLocked();
  }

  // Forgets a process that is gone and removes its profile and pipe file.
  void dropLocked() {
    pid_ = 0;
    remote_.reset();
    std::error_code ec;
    if (!pipe_.empty()) {
      // The engine's pipe lives in the system's temporary folder; a killed
      // engine cannot remove it itself.
      fs::remove("/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe_, ec);
      pipe_.clear();
    }
    if (!profile_.empty()) {
      fs::remove_all(profile_, ec);
      profile_.clear();
    }
  }

  std::string logText() const {
    std::ifstream in(profile_ + "/engine.log");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (text.size() > 500) text = text.substr(text.size() - 500);
    return text;
  }

  void startLocked() {
    if (::access(programFile("soffice.bin").c_str(), X_OK) != 0)
      throw Error(hr::kCannotCreate, kSource, "the spreadsheet engine is not installed (" + programFile("soffice.bin") + ")");
    // The client side of the connection reads its type library through
    // this bootstrap variable; without it the connection cannot be made.
    ::setenv("URE_BOOTSTRAP", ("vnd.sun.star.pathname:" + programFile("fundamentalrc")).c_str(), 0);
    if (!local_.is()) {
      try {
        local_ = cppu::defaultBootstrap_InitialComponentContext();
      } catch (const css::uno::Exception& e) {
        Raise("cannot prepare the connection to the spreadsheet engine", e);
      }
    }
    removeStaleFiles();
    bool seeded = false;
    profile_ = makeProfile(seeded);
    pipe_ = "quillon_calc_" + fs::path(profile_).filename().string();
    const std::string& pipe = pipe_;
    rtl::OUString profileUrl;
    osl::FileBase::getFileURLFromSystemPath(U(profile_), profileUrl);
    std::vector<std::string> argv = {programFile("soffice.bin"), "--headless", "--invisible", "--nologo", "--nodefault",
                                     "--norestore", "--nolockcheck", "--nofirststartwizard",
                                     "-env:UserInstallation=" + Utf8(profileUrl),
                                     "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext"};
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    auto resolver = css::bridge::UnoUrlResolver::create(local_);
    const rtl::OUString url = U("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext");
    int launches = 0;
    pid_ = Launcher::instance().launch(argv, profile_ + "/engine.log");
    ++launches;
    for (;;) {
      try {
        Reference<css::uno::XComponentContext> context(resolver->resolve(url), css::uno::UNO_QUERY_THROW);
        auto remote = std::make_unique<Remote>();
        remote->context = context;
        remote->factory = context->getServiceManager();
        remote->desktop.set(css::frame::Desktop::create(context), css::uno::UNO_QUERY_THROW);
        remote_ = std::move(remote);

        return;
      } catch (const css::connection::NoConnectException&) {
        // not listening yet
      } catch (const css::uno::Exception& e) {
        std::string message = Utf8(e.Message);
        killLocked();
        throw Error(hr::kCannotCreate, kSource, "cannot connect to the spreadsheet engine: " + message);
      }
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        // A new profile ends the first launch with code 81 once.
        if (WIFEXITED(status) && WEXITSTATUS(status) == kFirstStartExit && launches < 3) {
          if (!seeded) keepSeed(profile_);
          pid_ = Launcher::instance().launch(argv, profile_ + "/engine.log");
          ++launches;
          continue;
        }
        std::string log = logText();
        pid_ = 0;
        dropLocked();
        throw Error(hr::kCannotCreate, kSource,
                    "the spreadsheet engine ended while starting (status " + std::to_string(status) + ")" +
                        (log.empty() ? std::string() : ": " + log));
      }
      if (std::chrono::steady_clock::now() > deadline) {
        killLocked();
        throw Error(hr::kCannotCreate, kSource, "the spreadsheet engine did not start in time");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::mutex mutex_;
  std::atomic<pid_t> pid_{0};
  std::string profile_;
  std::string pipe_;
  Reference<css::uno::XComponentContext> local_;
  std::unique_ptr<Remote> remote_;
};

}  // namespace

Remote Connect() { return Engine::instance().connect(); }

void KeepExitLast() { Engine::KeepExitLast(); }

void WithDeadline(std::chrono::milliseconds limit, const std::function<void()>& body, bool& expired) {
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, limit, [&] { return finished; })) {
      expired = true;
      Engine::instance().killNow();
    }
  });
  auto stopWatchdog = [&] {
    {
      std::lock_guard<std::mutex> lock(m);
      finished = true;
    }
    cv.notify_all();
    watchdog.join();
  };
  try {
    body();
  } catch (...) {
    stopWatchdog();
    throw;
  }
  stopWatchdog();
}

}  // namespace quillon::calc

extern "C" quillon::spreadsheet::EngineApi* quillon_calc_engine() { return &quillon::calc::Engine::instance(); }

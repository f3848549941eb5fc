// The spreadsheet engine against the real office process: cell contents
// and custom properties through a saved ".xls" (checked with an
// independent reader), buffered writes that leave other cells alone,
// broken files, and the engine's lifetime.
//
// Each test runs in its own process and so starts its own engine; the
// cases are grouped so that there are few of them.
#include "platform/Spreadsheet.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Error.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using spreadsheet::Area;
using spreadsheet::CellKind;

class SpreadsheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quillon-sheet-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    if (!spreadsheet::Available()) GTEST_SKIP() << "the spreadsheet engine is not installed";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs a Python snippet with the system interpreter (python3-xlrd);
  // returns its output.
  static std::string python(const std::string& code) {
    std::string command = "/usr/bin/python3 -c '" + code + "' 2>&1";
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (p && std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (p) ::pclose(p);
    return out;
  }

  bool lockFilesIn(const fs::path& folder) const {
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().filename().string().rfind(".~lock", 0) == 0) return true;
    return false;
  }

  fs::path dir_;
};

TEST_F(SpreadsheetTest, CellsAndPropertiesSurviveAnXlsFileAndOtherReadersSeeThem) {
  auto book = spreadsheet::Create();
  ASSERT_EQ(book->sheetNames().size(), 1u);
  auto sheet = book->sheet(1);
  sheet->setName("Order");
  sheet->write(1, 1, "Item");
  sheet->write(1, 2, "12.5");
  sheet->write(1, 3, "=B1*2");
  sheet->write(2, 1, "=IF(B1>5,\"x,y\",2)");
  sheet->write(2, 2, "3/15/2024");
  sheet->write(2, 3, "'00123");
  sheet->write(3, 1, "=Order!B1+1");
  // Formulas that would make this server fetch or read something stay text.
  sheet->write(3, 2, "=WEBSERVICE(\"http://127.0.0.1:9/\")");
  sheet->write(3, 3, "=1/0");
  sheet->write(4, 4, "  ");
  auto other = book->addSheet("Notes");
  other->write(1, 1, "second sheet");
  book->setProperty("B2B-RECEIVER", Variant("4711;4712"));
  book->setProperty("Pieces", Variant(12));
  book->setProperty("Urgent", Variant(true));
  book->setProperty("Due", Variant::date(oleDateFromParts(2024, 3, 15)));
  book->setProperty("Pieces", Variant(13));  // replaces the value
  book->saveAs(path("order.xls"));
  book->close();
  EXPECT_TRUE(book->closed());
  EXPECT_FALSE(lockFilesIn(dir_));

  // An independent reader sees the sheets and values.
  std::string seen = python(
      "import xlrd; b = xlrd.open_workbook(\"" + path("order.xls") +
      "\"); s = b.sheet_by_index(0); print(b.sheet_names()); print(s.cell_value(0,0), s.cell_value(0,1), s.cell_value(0,2), "
      "s.cell_value(1,0), s.cell_value(1,2), s.cell_value(2,0))");
  EXPECT_NE(seen.find("['Order', 'Notes']"), std::string::npos) << seen;
  EXPECT_NE(seen.find("Item 12.5 25.0 x,y 00123 13.5"), std::string::npos) << seen;

  auto back = spreadsheet::Open(path("order.xls"), true);
  EXPECT_TRUE(back->readOnly());
  EXPECT_EQ(back->fileName(), "order.xls");
  EXPECT_EQ(back->sheet("ORDER")->name(), "Order");  // names compare without case
  EXPECT_EQ(back->sheet("Missing"), nullptr);
  auto s = back->sheet(1);
  Area used = s->usedArea();
  EXPECT_EQ(used.firstRow, 1);
  EXPECT_EQ(used.lastRow, 4);
  EXPECT_EQ(used.lastColumn, 4);
  auto cells = s->read(Area{1, 1, 3, 3});
  ASSERT_EQ(cells.size(), 9u);
  EXPECT_EQ(cells[0].valueText(), "Item");
  EXPECT_EQ(cells[1].kind, CellKind::Number);
  EXPECT_EQ(cells[1].valueText(), "12.5");
  EXPECT_EQ(cells[2].formula, "=B1*2");
  EXPECT_EQ(cells[2].valueText(), "25");
  EXPECT_EQ(cells[3].formula, "=IF(B1>5,\"x,y\",2)");
  EXPECT_EQ(cells[3].valueText(), "x,y");
  EXPECT_EQ(cells[4].kind, CellKind::Date);
  EXPECT_EQ(cells[4].valueText(), "2024-03-15");
  EXPECT_EQ(cells[5].kind, CellKind::Text);
  EXPECT_EQ(cells[5].valueText(), "00123");
  EXPECT_EQ(cells[6].formula, "=Order!B1+1");
  EXPECT_EQ(cells[7].kind, CellKind::Text);
  EXPECT_EQ(cells[7].formula, "");
  EXPECT_EQ(cells[7].valueText(), "=WEBSERVICE(\"http://127.0.0.1:9/\")");
  EXPECT_EQ(cells[8].kind, CellKind::Error);
  EXPECT_EQ(cells[8].valueText(), "#DIV/0!");

  std::map<std::string, Variant> props;
  for (auto& p : back->properties()) props[p.name] = p.value;
  EXPECT_EQ(props["B2B-RECEIVER"].text(), "4711;4712");
  EXPECT_EQ(props["Pieces"].toInt32(), 13);
  EXPECT_EQ(props["Urgent"].type(), VarType::Boolean);
  EXPECT_TRUE(props["Urgent"].toBool());
  EXPECT_EQ(props["Due"].type(), VarType::Date);
  EXPECT_EQ(formatOleDate(props["Due"].toDate()), "2024-03-15 00:00:00");
  // A read-only workbook cannot be saved in place.
  EXPECT_THROW(back->save(), Error);
  back->close();
  EXPECT_FALSE(lockFilesIn(dir_));
}

TEST_F(SpreadsheetTest, BufferedWritesLeaveCellsTheyDoNotNameAlone) {
  auto book = spreadsheet::Create();
  auto sheet = book->sheet(1);
  // Existing content, some of it rich: a formula and a number that must
  // not be rewritten by the block writes around them.
  sheet->write(2, 2, "=1+1");
  sheet->write(3, 3, "keep");
  sheet->write(5, 1, "7");
  sheet->usedArea();  // sends the writes
  for (long r = 1; r <= 6; ++r)
    for (long c = 1; c <= 4; ++c)
      if (!(r == 2 && c == 2) && !(r == 3 && c == 3) && !(r == 5 && c == 1) && (r + c) % 2 == 0)
        sheet->write(r, c, "r" + std::to_string(r) + "c" + std::to_string(c));
  sheet->write(6, 4, "");  // empties nothing that was there
  sheet->write(1, 1, "first");
  sheet->write(1, 1, "last");  // a later write to the same cell wins
  auto cells = sheet->read(Area{1, 1, 6, 4});
  auto at = [&](long r, long c) { return cells[static_cast<std::size_t>((r - 1) * 4 + (c - 1))]; };
  EXPECT_EQ(at(2, 2).formula, "=1+1");
  EXPECT_EQ(at(2, 2).valueText(), "2");
  EXPECT_EQ(at(3, 3).valueText(), "keep");
  EXPECT_EQ(at(5, 1).valueText(), "7");
  EXPECT_EQ(at(1, 1).valueText(), "last");
  EXPECT_EQ(at(1, 3).valueText(), "r1c3");
  EXPECT_EQ(at(4, 2).valueText(), "r4c2");
  EXPECT_EQ(at(1, 2).kind, CellKind::Empty);
  EXPECT_EQ(at(6, 4).kind, CellKind::Empty);

  // Positions outside an ".xls" sheet are refused at once.
  EXPECT_THROW(sheet->write(spreadsheet::kMaxRows + 1, 1, "x"), Error);
  EXPECT_THROW(sheet->write(1, spreadsheet::kMaxColumns + 1, "x"), Error);
  EXPECT_THROW(sheet->write(0, 1, "x"), Error);
  book->close();
  book->close();  // twice is harmless
  EXPECT_THROW(book->sheetNames(), Error);
}

TEST_F(SpreadsheetTest, FilesThatAreNoWorkbooksFailQuicklyAndLeaveNothingOpen) {
  std::ofstream(path("text.xls")) << "Item;Price\nA;1\n";
  std::string junk(4096, '\0');
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131 + 7) % 251);
  std::ofstream(path("junk.xls"), std::ios::binary) << "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" << junk;
  for (const char* name : {"text.xls", "junk.xls"}) {
    auto start = std::chrono::steady_clock::now();
    try {
      spreadsheet::Open(path(name), false);
      ADD_FAILURE() << name << " opened";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), hr::kFail) << e.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
  }
  try {
    spreadsheet::Open(path("missing.xls"), true);
    ADD_FAILURE() << "a missing file opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), hr::kFileNotFound);
  }
  EXPECT_FALSE(lockFilesIn(dir_));
  // The engine is still there and usable.
  auto book = spreadsheet::Create();
  book->sheet(1)->write(1, 1, "fine");
  EXPECT_EQ(book->sheet(1)->read(Area{1, 1, 1, 1})[0].valueText(), "fine");
}

// A workbook from outside may hold formulas that fetch URLs; the engine
// must not call out when it opens one, nor when such a formula is written.
// The fixture (made by the engine) holds =WEBSERVICE("http://127.0.0.1:8765/ping").
TEST_F(SpreadsheetTest, HostileFormulasNeverMakeTheEngineCallOut) {
  std::string hits = path("hits.log");
  std::string pidFile = path("server.pid");
  std::string server =
      "import http.server, os, sys\n"
      "class H(http.server.BaseHTTPRequestHandler):\n"
      "    def do_GET(self):\n"
      "        open(sys.argv[1], 'a').write(self.path + '\\n')\n"
      "        self.send_response(200); self.end_headers(); self.wfile.write(b'pong')\n"
      "    def log_message(self, *a): pass\n"
      "s = http.server.HTTPServer(('127.0.0.1', 8765), H)\n"
      "open(sys.argv[2], 'w').write(str(os.getpid()))\n"
      "s.serve_forever()\n";
  std::ofstream(path("server.py")) << server;
  std::string command = "/usr/bin/python3 " + path("server.py") + " " + hits + " " + pidFile + " >/dev/null 2>&1 &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  long serverPid = 0;
  for (int i = 0; i < 100 && serverPid == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::ifstream in(pidFile);
    in >> serverPid;
  }
  if (serverPid == 0) GTEST_SKIP() << "port 8765 is not free";

  auto book = spreadsheet::Open(std::string(QUILLON_SOURCE_DIR) + "/tests/platform/data/webservice.xls", true);
  auto cell = book->sheet(1)->read(Area{1, 1, 1, 1})[0];
  EXPECT_EQ(cell.formula, "=WEBSERVICE(\"http://127.0.0.1:8765/ping\")");
  EXPECT_EQ(cell.kind, CellKind::Error);
  book->close();
  auto fresh = spreadsheet::Create();
  fresh->sheet(1)->write(1, 1, "=WEBSERVICE(\"http://127.0.0.1:8765/written\")");
  fresh->sheet(1)->write(2, 1, "=INDIRECT(\"'file:///etc/hostname'#$Sheet1.A1\")");
  auto written = fresh->sheet(1)->read(Area{1, 1, 2, 1});
  EXPECT_EQ(written[0].kind, CellKind::Text);
  EXPECT_EQ(written[1].kind, CellKind::Text);
  fresh->close();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(static_cast<pid_t>(serverPid), SIGTERM);
  std::ifstream in(hits);
  std::string requests((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(requests, "");
}

// Started as a separate process by the next test: starts the engine,
// reports its process id and waits to be killed.
TEST(SpreadsheetHelper, HoldsAnEngineUntilKilled) {
  const char* out = std::getenv("QUILLON_SPREADSHEET_HELPER");
  if (!out) GTEST_SKIP() << "only run as a helper process";
  auto book = spreadsheet::Create();
  std::ofstream(out) << spreadsheet::EngineProcessId() << "\n";
  std::this_thread::sleep_for(std::chrono::seconds(60));
}

bool processGone(long pid, std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    if (line.find(") Z ") != std::string::npos) return true;  // a zombie no longer runs
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST_F(SpreadsheetTest, TheEngineDiesWithItsCallerAndComesBackAfterItDied) {
  // A caller killed with SIGKILL takes its engine along.
  std::string report = path("helper.pid");
  pid_t helper = ::fork();
  if (helper == 0) {
    ::setenv("QUILLON_SPREADSHEET_HELPER", report.c_str(), 1);
    ::execl("/proc/self/exe", "helper", "--gtest_filter=SpreadsheetHelper.HoldsAnEngineUntilKilled", nullptr);
    ::_exit(127);
  }
  long enginePid = 0;
  for (int i = 0; i < 600 && enginePid == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(report);
    in >> enginePid;
  }
  ASSERT_GT(enginePid, 0) << "the helper did not start an engine";
  ::kill(helper, SIGKILL);
  ::waitpid(helper, nullptr, 0);
  EXPECT_TRUE(processGone(enginePid, std::chrono::seconds(10))) << "engine " << enginePid << " outlived its caller";

  // This process's own engine, killed, is started again on the next use.
  auto book = spreadsheet::Create();
  long first = spreadsheet::EngineProcessId();
  ASSERT_GT(first, 0);
  ::kill(static_cast<pid_t>(first), SIGKILL);
  ASSERT_TRUE(processGone(first, std::chrono::seconds(10)));
  EXPECT_THROW(book->sheet(1)->read(Area{1, 1, 1, 1}), Error);
  auto again = spreadsheet::Create();
  long second = spreadsheet::EngineProcessId();
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  again->sheet(1)->write(1, 1, "back");
  EXPECT_EQ(again->sheet(1)->read(Area{1, 1, 1, 1})[0].valueText(), "back");
  book->close();  // closing a workbook of a dead engine is harmless
}

}  // namespace
}  // namespace quillon

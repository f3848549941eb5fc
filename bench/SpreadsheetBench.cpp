// Workbook conversion with a warm engine, per workbook of 1,000 filled
// cells and 9 custom properties, against the floor of opening and closing
// the same workbook without reading it; and the engine's cold start.
//
//   build/bench_spreadsheet [ITERATIONS]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "imports/B2BExcel.h"
#include "platform/Spreadsheet.h"
#include "platform/XmlDom.h"

using namespace quillon;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr long kRows = 100;
constexpr long kColumns = 10;  // 1,000 cells

const char* kProperties[][2] = {
    {"B2B-DOCTYPE-ID", "ORDER"},  {"B2B-SENDER", "alice"},          {"B2B-CONTACT", "bob"},
    {"B2B-SHOW", "1"},            {"B2B-RECEIVER", "4711;4712"},    {"B2B-BUSINESSPARTNER", "400"},
    {"B2B-BUS-PART-C", "DELTA-C"}, {"B2B-BUS-PART-S", "DELTA-S"},   {"B2B-ORIGINALNAME", "po.xml"},
};

// Row r, column c: text in the first column, a formula every 50th cell,
// numbers elsewhere.
std::string cellInput(long r, long c) {
  if (c == 1) return "Item " + std::to_string(r);
  if ((r * kColumns + c) % 50 == 0) return "=B" + std::to_string(r) + "*2";
  return std::to_string(r * 100 + c);
}

std::string placementXml() {
  std::string xml = "<ORDER B2BWORKSHEET=\"Order\">";
  for (const auto& p : kProperties)
    xml += std::string("<P B2BPROPLABEL=\"") + p[0] + "\" B2BPROPVALUE=\"" + p[1] + "\" B2BPROPTYPE=\"Text\"/>";
  for (long r = 1; r <= kRows; ++r)
    for (long c = 1; c <= kColumns; ++c)
      xml += "<C B2BVALUEPOS=\"" + spreadsheet::ColumnLetters(c) + std::to_string(r) + "\">" + cellInput(r, c) + "</C>";
  return xml + "</ORDER>";
}

template <class F>
double millis(F&& f) {
  auto start = Clock::now();
  f();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median milliseconds of `iterations` runs after one warm-up run.
template <class F>
double median(long iterations, F&& f) {
  f();
  std::vector<double> times;
  for (long i = 0; i < iterations; ++i) times.push_back(millis(f));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::atol(argv[1]) : 15;
  fs::path dir = fs::temp_directory_path() / ("quillon-bench-sheet-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string book = (dir / "bench.xls").string();

  double firstStart = millis([] { spreadsheet::Available(); });
  if (spreadsheet::EngineProcessId() == 0) {
    std::fprintf(stderr, "the spreadsheet engine is not installed\n");
    return 1;
  }
  spreadsheet::StopEngine();
  double coldStart = millis([] { spreadsheet::Available(); });

  {
    auto wb = spreadsheet::Create();
    auto sheet = wb->sheet(1);
    sheet->setName("Order");
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kColumns; ++c) sheet->write(r, c, cellInput(r, c));
    for (const auto& p : kProperties) wb->setProperty(p[0], Variant(p[1]));
    wb->saveAs(book);
    wb->close();
  }

  B2BExcel excel;
  double floor = median(iterations, [&] { spreadsheet::Open(book, true)->close(); });
  std::size_t cells = 0;
  double toXml = median(iterations, [&] {
    std::shared_ptr<DomDocument> dom;
    excel.TransformExcelToXML(book, dom);
    cells = dom->selectNodes("//Cell")->nodes().size();
  });
  const std::string xml = placementXml();
  double createOnly = median(iterations, [&] {
    auto wb = excel.TransformXMLToExcel(xml, EWriteMode::Create, 0, false);
    excel.CloseWorkBook(wb);
  });
  const std::string out = (dir / "out.xls").string();
  double createAndSave = median(iterations, [&] {
    auto wb = excel.TransformXMLToExcel(xml, EWriteMode::Create, 0, false);
    excel.WriteExcelObjectToFile(wb, out, true);
  });

  std::printf("engine start, first in this process:        %8.1f ms\n", firstStart);
  std::printf("engine cold start (prepared profile):       %8.1f ms\n", coldStart);
  std::printf("floor: open + close the workbook:           %8.1f ms\n", floor);
  std::printf("TransformExcelToXML (%zu cells, 9 props):  %8.1f ms  (%.1f x floor)\n", cells, toXml, toXml / floor);
  std::printf("TransformXMLToExcel create + close:         %8.1f ms  (%.1f x floor)\n", createOnly, createOnly / floor);
  std::printf("TransformXMLToExcel create + save + close:  %8.1f ms  (%.1f x floor)\n", createAndSave, createAndSave / floor);
  fs::remove_all(dir);
  return 0;
}

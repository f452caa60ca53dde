// trv4-bench-driven: the TRV-4 program in a process of its own, set going as an operator would
// before the link benchmark measures it: `--log FILE` starts a continuous weight log through
// the "Log" menu and its boxes, `--tools` opens Link Statistics, Traffic Monitor and a Weight
// Trend. Run in a folder holding TRV4.INI, as the program is.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/program.h"
#include "tests/support/program_driver.h"

using namespace trv4;

int main(int argc, char** argv) {
  std::string log;
  bool tools = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      log = argv[++i];
    } else if (std::strcmp(argv[i], "--tools") == 0) {
      tools = true;
    } else {
      std::fprintf(stderr, "usage: trv4-bench-driven [--log FILE] [--tools]\n");
      return 2;
    }
  }
  QApplication app(argc, argv);
  Program program;
  if (!program.start()) return 1;
  if (!log.empty()) {
    QAction* entry = e2e::menuEntry(program, "mWLog");
    if (entry) e2e::click(*entry, {QString::fromStdString(log), QStringLiteral("0")});
    if (!program.app().weightLog().LogActive()) {
      std::fprintf(stderr, "trv4-bench-driven: the log did not start\n");
      return 1;
    }
  }
  if (tools) {
    for (const char* name : {"mLinkStats", "mTraffic", "mWeightTrend"}) {
      QAction* entry = e2e::menuEntry(program, name);
      if (!entry) {
        std::fprintf(stderr, "trv4-bench-driven: no menu entry %s\n", name);
        return 1;
      }
      e2e::click(*entry);
    }
  }
  return QApplication::exec();
}

#include "bench/program_line.h"

#include <algorithm>

namespace trv4::bench {

using namespace scalesim;

ProgramLine::ProgramLine(const std::string& program, const std::vector<std::string>& simArgs,
                         const std::string& netIni)
    : sim(dir, simArgs) {
  writeFile(dir.file("TRV4.INI"), iniText("11111111"));
  if (!netIni.empty()) writeFile(dir.file("TRV4NET.INI"), netIni);
  std::vector<std::string> args;
  if (program == gatewayPath()) args = {"--dir", dir.path()};
  proc = std::make_unique<Process>(program, args, dir.path(),
                                   std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"},
                                   "program.out");
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace trv4::bench

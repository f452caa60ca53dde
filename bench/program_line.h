// A program (or the gateway) polling trv4-scalesim in a folder of their own: one line of the
// benchmarks that run the programs side by side.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/scalesim/sim_session.h"

namespace trv4::bench {

struct ProgramLine {
  // netIni, when not empty, is written as the line's TRV4NET.INI before the program starts.
  ProgramLine(const std::string& program, const std::vector<std::string>& simArgs,
              const std::string& netIni);
  scalesim::TempDir dir;
  scalesim::Simulator sim;
  std::unique_ptr<scalesim::Process> proc;
};

// The q quantile (0..1) of v; -1 for none.
double quantile(std::vector<double> v, double q);

}  // namespace trv4::bench

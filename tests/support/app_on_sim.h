// The program's logic without its windows, on simulated scales in virtual time, with its
// configuration file in a scratch folder: what the tests of the windows' logic start from.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "tests/support/sim_scales.h"

namespace trv4::test {

// Scales A to D with fixed weights: A 12.50 kg, B -1.25 kg, C showing the text "ZYGOS", D silent.
inline scalesim::NetworkOptions fourScales() {
  scalesim::NetworkOptions o;
  o.addresses = {'A', 'B', 'C', 'D'};
  o.movingWeights = false;
  o.faults = {scalesim::Fault{scalesim::FaultKind::kSilence, {'D'}, 1.0}};
  o.setups['A'].load = 12.5;
  o.setups['B'].load = -1.25;
  o.setups['C'].text = "ZYGOS";
  return o;
}
// The same and E on the line.
inline scalesim::NetworkOptions fiveScales() {
  scalesim::NetworkOptions o = fourScales();
  o.addresses.insert('E');
  return o;
}

struct AppOnSim {
  // Writes TRV4.INI (port 1, 9600,N,8,1, default timings, `line8` as the scales to poll) and
  // starts the program on it.
  AppOnSim(scalesim::NetworkOptions options, const std::string& line8)
      : sim(tk, port, std::move(options)) {
    std::filesystem::create_directories(dir);
    writeIni(line8);
    start();
  }
  ~AppOnSim() {
    app.reset();
    std::filesystem::remove_all(dir);
  }

  void writeIni(const std::string& line8) {
    std::ofstream out(ini, std::ios::binary);
    for (const std::string& line :
         {std::string("1"), std::string("9600,N,8,1"), std::string("0050"), std::string("0300"),
          std::string("0100"), std::string("0100"), std::string("0020"),
          line8 + "  ' Scales To Scan"}) {
      out << '"' << line << "\"\r\n";
    }
  }
  // A fresh program reading the file, as after a restart.
  void start() {
    app.reset();
    app = std::make_unique<Application>(port, tk, ini);
    if (!app->MDIForm_Load()) ADD_FAILURE() << "the program did not start";
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  // The bodies (address and text) of the frames the scales received from the from-th on, status
  // requests left out.
  std::vector<std::string> commandsSent(std::size_t from = 0) const {
    std::vector<std::string> out;
    const auto& rx = sim.received();
    for (std::size_t i = from; i < rx.size(); ++i) {
      const std::string body = rx[i].bytes.substr(1, rx[i].bytes.size() - 4);
      if (body.substr(1) != "?0") out.push_back(body);
    }
    return out;
  }

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("trv4-app-" + std::to_string(getpid()));
  const std::string ini = (dir / "TRV4.INI").string();
  VirtualToolkit tk;  // first: it outlives every timer
  SimSerialPort port{tk};
  SimScales sim;
  std::unique_ptr<Application> app;  // last: it uses the members above
};

}  // namespace trv4::test

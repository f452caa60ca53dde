#include "tests/support/sim_scales.h"

#include <cstdlib>

namespace trv4::test {

namespace {

// "19200,E,7,1" as the scales hear it: 19200 baud, "7E1".
void tellLineSettings(const std::string& settings, scalesim::ScaleNetwork& net) {
  std::string f[4];
  std::size_t from = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = settings.find(',', from);
    f[i] = settings.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  net.setLineSettings(std::atoi(f[0].c_str()), f[2] + f[1] + f[3]);
}

}  // namespace

SimScales::SimScales(VirtualToolkit& toolkit, SimSerialPort& port, scalesim::NetworkOptions options)
    : toolkit_(toolkit), port_(port), net_(std::move(options)) {
  port_.onWrite = [this](const std::string& bytes) {
    tellLineSettings(port_.settings(), net_);
    net_.receive(bytes, nowUs());
    arm();
  };
  arm();  // a streaming scale talks from the start
}

SimScales::~SimScales() {
  *alive_ = false;
  port_.onWrite = nullptr;
}

void SimScales::arm() {
  auto next = net_.nextOutputTime();
  if (!next) return;
  // Bytes complete within a millisecond arrive at its end: the clock has whole milliseconds.
  int64_t atMs = std::max(toolkit_.now(), (*next + 999) / 1000);
  if (armedAtMs_ >= 0 && armedAtMs_ <= atMs) return;  // an earlier event will re-arm
  armedAtMs_ = atMs;
  std::weak_ptr<bool> alive = alive_;
  toolkit_.schedule(atMs, [this, alive, atMs] {
    auto a = alive.lock();
    if (!a || !*a) return;
    if (armedAtMs_ == atMs) armedAtMs_ = -1;
    pump();
  });
}

void SimScales::pump() {
  std::string due;
  for (auto& o : net_.takeOutput(nowUs())) due += o.bytes;
  if (!due.empty()) port_.deliver(due, 0);
  arm();
}

}  // namespace trv4::test

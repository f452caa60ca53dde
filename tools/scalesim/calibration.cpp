#include "tools/scalesim/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "tools/scalesim/data_fields.h"
#include "tools/scalesim/parameter_store.h"
#include "tools/scalesim/weighing.h"

namespace trv4::scalesim {

namespace {

const char* const kWorkingText = "  CAL ";

}  // namespace

bool isCalibration(const std::string& body) {
  return body == "a" || (body.size() > 1 && (body[0] == 'b' || body[0] == 'c' || body[0] == 'A' ||
                                             body[0] == 'B' || body[0] == 'C'));
}

std::string calibrate(ScaleState& s, const std::string& body, int64_t atUs, int64_t workingTextUs,
                      Random& random) {
  const std::string ack(1, kAck), nak(1, kNak);
  const char kind = body[0];
  const std::string v = body.substr(1);
  const int cells = loadCells(s);
  const int corners = s.corners > 0 ? s.corners : cells;
  // Kilograms of the display's last digit, for the weights keyed in as the display shows them.
  const double digitKg = std::pow(10.0, -displayDecimals(s));
  const double onPlatform = displayedGross(s, atUs) - s.zeroOffset;  // before the span
  // Every step shows the working text first, then what it ends in: the next corner, an error
  // (both until replaced or acknowledged) or, with `then` empty, the weight.
  auto finish = [&](std::string then) {
    s.display.assign(1, {kWorkingText, workingTextUs});
    if (!then.empty()) s.display.push_back({std::move(then), -1});
    s.displayStartUs = atUs;
    return ack;
  };
  auto refuse = [&](std::string text) {
    s.cornerMode = 0;
    return finish(std::move(text));
  };
  auto done = [&] {
    s.net = false;  // a calibrated scale shows gross
    s.tare = 0;
    ++s.auditCounter;
    return finish("");
  };
  // Corner n is calibrated (0: the corner calibration begins): the next corner is asked for,
  // one given by --skip-corner passed over, or the sequence ends.
  auto cornerDone = [&](int n) {
    int next = n + 1;
    if (next == s.skipCorner) ++next;
    if (next > corners) {
      s.cornerMode = 0;
      s.nextCorner = 0;
      ++s.auditCounter;
      return finish("");
    }
    s.nextCorner = next;
    return finish("CORN." + std::to_string(next));
  };
  // Well-formed commands only; everything else is refused outright.
  bool ok = (kind == 'a' && v.empty()) || (kind == 'b' && v.size() == 5 && allDigits(v)) ||
            (kind == 'c' && v.size() == 1 && inRange(v[0], '0', '9')) ||
            (kind == 'A' && v.size() == 6 && allDigits(v)) ||
            (kind == 'B' && v.size() == 5 && allDigits(v)) ||
            (kind == 'C' && v.size() == 7 && allDigits(v) && v[0] != '0');
  if (!ok) return nak;
  // An error waits for its ACK: until then the scale calibrates nothing and the error stays.
  if (std::any_of(s.display.begin(), s.display.end(),
                  [](const ScaleState::DisplayStep& d) { return d.text.rfind("ERR", 0) == 0; }))
    return ack;
  if (s.calError) {
    const int error = std::exchange(s.calError, 0);  // the first calibration command only
    return refuse("ERR " + std::to_string(error));
  }
  const bool starts = kind == 'a' || kind == 'b' || kind == 'A' || kind == 'B' ||
                      (kind == 'c' && v == "0") || (kind == 'C' && v[0] == '1');
  if (starts && s.calLock) return refuse("ERR 91");
  const int keyed = std::atoi(v.c_str());
  switch (kind) {
    case 'a':
      s.zeroOffset = displayedGross(s, atUs);
      return done();
    case 'A': {
      // The signal given is taken as the empty platform's: the difference from the real one,
      // through the load cells' output, is the load that now reads as zero.
      const double kgPerSignal = cells * s.cellCapacityKg / kRatedSignal;
      s.zeroOffset = (keyed / 1e4 - s.emptySignal) * kgPerSignal;
      return done();
    }
    case 'b':
      // The test load must be a good part of the capacity for the converter to resolve it.
      if (keyed < 1 || onPlatform < 0.01 * s.capacity) return refuse("ERR 90");
      s.span = keyed * digitKg / onPlatform;
      return done();
    case 'B':
      // Cells taken as rated for the capacity given report their load scaled by it.
      if (keyed < 1) return refuse("ERR 90");
      s.span = keyed * digitKg / s.cellCapacityKg;
      return done();
    case 'c': {
      const int n = v[0] - '0';
      if (n == 0) {
        s.cornerMode = 'c';
        return cornerDone(0);
      }
      if (s.cornerMode != 'c' || n != s.nextCorner) return nak;
      if (onPlatform < 0.01 * s.capacity) return refuse("ERR 90");
      // The scale keeps four corner factors.
      if (n <= 4)
        s.params["f" + std::to_string(n)] =
            sixDigits(static_cast<long long>(random.uniform(95000, 105000)));
      return cornerDone(n);
    }
    case 'C': {
      const int n = v[0] - '0';
      if (n == 1) {
        s.cornerMode = 'C';
        s.nextCorner = 1;
      }
      if (s.cornerMode != 'C' || n != s.nextCorner) return nak;
      // A load-cell signal below 0.0100 mV/V cannot be resolved.
      if (std::atoi(v.c_str() + 1) < 100) return refuse("ERR 90");
      if (n <= 4) s.params["f" + std::to_string(n)] = v.substr(1);
      return cornerDone(n);
    }
  }
  return nak;
}

}  // namespace trv4::scalesim

#include "tools/scalesim/weighing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/scalesim/parameter_store.h"

namespace trv4::scalesim {

namespace {

// A swinging load: the weight goes up and down by this much around the load, once a period.
constexpr double kSwingKg = 0.4;
constexpr double kSwingPeriodUs = 1.3e6;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

void startLoad(ScaleState& s, bool moving, Random& random) {
  s.load = moving ? std::round(random.uniform(0, 50) * 20) / 20 : 0;
  s.motionFrom = s.load;
  s.nextLoadChangeUs = static_cast<int64_t>(random.uniform(1.5e6, 4e6));
}

void advanceLoad(ScaleState& s, int64_t nowUs, int64_t settleUs, Random& random) {
  if (s.keepLoad) return;
  while (nowUs >= s.nextLoadChangeUs) {
    int64_t t = s.nextLoadChangeUs;
    s.motionFrom = s.load;
    // The platform is emptied now and then, or loaded with up to 80 % of the capacity: never
    // beyond it, so a scale goes off range only with a load set so on purpose (--load D=180).
    if (random.uniform(0, 1) < 0.25)
      s.load = 0;
    else
      s.load = std::round(random.uniform(0, 0.8 * s.capacity) * 20) / 20;
    s.motionStartUs = t;
    s.motionUntilUs = t + settleUs;
    s.nextLoadChangeUs = t + static_cast<int64_t>(random.uniform(2e6, 6e6));
  }
}

void putLoad(ScaleState& s, double kg, int64_t nowUs, int64_t settleUs) {
  s.motionFrom = displayedGross(s, nowUs);
  s.load = kg;
  s.motionStartUs = nowUs;
  s.motionUntilUs = nowUs + settleUs;
}

double displayedGross(const ScaleState& s, int64_t nowUs) {
  double kg = s.load;
  if (nowUs < s.motionUntilUs) {
    double f = static_cast<double>(nowUs - s.motionStartUs) /
               static_cast<double>(std::max<int64_t>(1, s.motionUntilUs - s.motionStartUs));
    f = std::clamp(f, 0.0, 1.0);
    double swing = (s.load - s.motionFrom) * (1 - f);
    // A damped wobble around the way from the old load to the new one. It overshoots, but not
    // past an empty platform or the capacity unless one of the two loads lies there.
    const double lowest = std::min({0.0, s.motionFrom, s.load});
    const double highest = std::max({s.capacity, s.motionFrom, s.load});
    kg = std::clamp(s.load - swing * std::cos(f * 9.0), lowest, highest);
  }
  if (s.swing) {
    // A load that swings on its platform, within the same bounds.
    const double phase = std::fmod(static_cast<double>(nowUs), kSwingPeriodUs) / kSwingPeriodUs;
    kg = std::clamp(kg + kSwingKg * std::sin(2 * kPi * phase), std::min(0.0, s.load),
                    std::max(s.capacity, s.load));
  }
  return kg;
}

double reportedGross(const ScaleState& s, int64_t nowUs) {
  return (displayedGross(s, nowUs) - s.zeroOffset) * s.span;
}

void updateText(ScaleState& s, int64_t nowUs) {
  while (!s.display.empty() && s.display.front().durationUs >= 0 &&
         nowUs >= s.displayStartUs + s.display.front().durationUs) {
    s.displayStartUs += s.display.front().durationUs;
    s.display.pop_front();
  }
}

void showText(ScaleState& s, const std::string& text, int64_t nowUs, int64_t durationUs) {
  s.display.assign(1, {text, durationUs < 0 ? -1 : durationUs});
  s.displayStartUs = nowUs;
}

std::string statusPayload(ScaleState& s, int64_t nowUs) {
  updateText(s, nowUs);
  const std::string& p2 = s.params["p2"];
  const std::string& p3 = s.params["p3"];
  int dp = displayDecimals(s);
  int res = std::max(1, std::atoi(p2.substr(0, 2).c_str()));
  double d = res * std::pow(10.0, -dp);
  bool stable = nowUs >= s.motionUntilUs && !s.swing;
  int bits = stable ? kStableBit : 0;
  if (!s.display.empty() || !s.standingText.empty()) {
    std::string field = s.display.empty() ? s.standingText : s.display.front().text;
    field.resize(6, ' ');
    return std::string(1, static_cast<char>(0x40 | kTextBit | bits)) + field;
  }
  double gross = reportedGross(s, nowUs);
  double value = gross - (s.net ? s.tare : 0);
  value = std::round(value / d) * d;
  if (s.net) bits |= kNetBit;
  if (stable && std::fabs(gross) < d / 4) bits |= kMarkBit;
  if (value < 0) bits |= kNegativeBit;
  char field[32];
  std::snprintf(field, sizeof field, "%0*.*f", 6, dp, std::fabs(value));
  std::string f = field;
  if (gross > s.capacity + 9 * d || f.size() > 6) {
    bits |= kOffRangeBit;
    f = "------";
  } else if (p3.size() > 4 && p3[4] == '1') {
    // Leading zero blank: zeros in front of the units digit become blanks.
    size_t units = f.find('.');
    if (units == std::string::npos) units = f.size();
    for (size_t i = 0; i + 1 < units && f[i] == '0'; ++i) f[i] = ' ';
  }
  return std::string(1, static_cast<char>(0x40 | bits)) + f;
}

std::string weighingCommand(ScaleState& s, char command, int64_t atUs) {
  switch (command) {
    case 'Z':
      s.zeroOffset = displayedGross(s, atUs);
      s.net = false;
      s.tare = 0;
      break;
    case 'T':
      s.tare = reportedGross(s, atUs);
      s.net = true;
      break;
    case 'G':
      s.net = false;
      s.tare = 0;
      break;
  }
  return std::string(1, kAck);
}

}  // namespace trv4::scalesim

#include "display/weight_format.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "base/numeric_text.h"

namespace trv4 {

namespace {

// Largest weight shown as a number: six characters of digits hold at most 999999, which is
// about 2.2 million in pounds; anything far beyond that is not a weight a scale reports.
constexpr double kLargestWeight = 1e7;
constexpr double kLargestDigits = 2147483647.0;

// The step value to divide by: 0 (an empty or non-numeric step text) and values a float cannot
// hold fall back to 1, the field's own resolution.
double usableStep(const std::string& stepText) {
  double step = numericValue(stepText);
  float asFloat =
      std::fabs(step) <= std::numeric_limits<float>::max() ? static_cast<float>(step) : 0.0f;
  return asFloat == 0.0f ? 1.0 : step;
}

// The number text of a weight field, or nothing when the weight cannot be shown as a number.
std::optional<std::string> weightNumber(const std::string& field, int unitFlag,
                                        const std::string& stepText) {
  const size_t point = field.find('.');
  const bool hasPoint = point != std::string::npos;
  const int dp = hasPoint ? static_cast<int>(field.size() - point - 1) : 0;
  const double scale = std::pow(10.0, dp);

  double v = numericValue(field);
  if (unitFlag != 0) v *= kPoundFactor;
  if (!(std::fabs(v) <= kLargestWeight)) return std::nullopt;

  const double step = usableStep(stepText);
  const double exact = v * scale / step;
  // A double beyond float range must not be converted (undefined behaviour); NaN fails too.
  if (!(std::fabs(exact) <= std::numeric_limits<float>::max())) return std::nullopt;

  float n = static_cast<float>(exact);
  const float whole = std::floor(n);
  if (n - whole >= 0.5f) n = whole + 1.0f;

  // floor(n) * step in single precision: the product of two floats is exact in double, so
  // rounding it once to float gives the float product without risking a float overflow.
  const double product = static_cast<double>(std::floor(n)) * static_cast<float>(step);
  if (!(std::fabs(product) <= std::numeric_limits<float>::max() &&
        std::fabs(product) / scale <= kLargestWeight)) {
    return std::nullopt;
  }
  const float w = static_cast<float>(product);
  // The plant's readers (Modbus, MQTT, captures) take the shown weight in units of its last
  // digit as a 32-bit number: beyond that it reads "Off Range" on the screen and for them alike.
  if (std::fabs(std::round(static_cast<double>(w))) > kLargestDigits) return std::nullopt;

  // w / 10^dp rounded to dp places: the rounding only removes floating-point residue.
  double rounded = std::round(static_cast<double>(w)) / scale;
  if (!std::isfinite(rounded)) return std::nullopt;
  if (rounded == 0.0) rounded = 0.0;  // no "-0"
  const float value = static_cast<float>(rounded);

  // Locale-independent: the decimal sign is always ".", whatever the operator's settings.
  std::string text(static_cast<size_t>(dp) + 64, '\0');
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, dp);
  if (result.ec != std::errc()) return std::nullopt;
  text.resize(static_cast<size_t>(result.ptr - text.data()));
  if (hasPoint && dp == 0) text += '.';
  return text;
}

std::string trimBlanks(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string FormatWeight(const std::string& field, int unitFlag, const std::string& stepText) {
  const auto number = weightNumber(field, unitFlag, stepText);
  if (!number) return kOffRangeText;
  return *number + (unitFlag == 0 ? " kg" : " lb");
}

void applyDisplayRule(const std::string& st, int unitFlag, const std::string& stepText,
                      PanelView& view) {
  const int flags = st.empty() ? 0 : static_cast<unsigned char>(st.front());
  // The weight field is the last six characters; a shorter text is the field as a whole, its
  // flags character included.
  const std::string field = st.size() > 6 ? st.substr(st.size() - 6) : st;

  view.netVisible = (flags & NetBit) != 0;
  if ((flags & StableBit) == 0) {
    view.motionVisible = true;
    view.motionText = "M";
  } else if ((flags & MarkBit) != 0) {
    view.motionVisible = true;
    view.motionText = "o";
  } else {
    view.motionVisible = false;
  }

  if ((flags & TextBit) != 0) {
    view.netVisible = false;
    view.motionVisible = false;
    view.text = field;
    return;
  }

  std::optional<std::string> number;
  if ((flags & OffRangeBit) == 0) number = weightNumber(field, unitFlag, stepText);
  if (number) {
    view.text = *number + (unitFlag == 0 ? " kg" : " lb");
  } else {
    view.netVisible = false;
    view.motionVisible = false;
    view.text = kOffRangeText;
  }

  if ((flags & NegativeBit) != 0) view.text = "-" + trimBlanks(view.text);
}

}  // namespace trv4

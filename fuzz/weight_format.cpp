// A status payload and a display step as the line and the operator give them, through what the
// monitor shows and what the plant's readers take back out of the panel's text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/numeric_text.h"
#include "display/shown_weight.h"
#include "display/weight_format.h"

namespace trv4 {
namespace {

void require(bool ok, const char* what, const std::string& text) {
  if (ok) return;
  std::fprintf(stderr, "weight format: %s: \"%s\"\n", what, text.c_str());
  std::abort();
}

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// A shown weight is "Off Range" or a number in the unit; the number reads back as it is shown.
void checkShown(const std::string& text, int unitFlag) {
  if (showsOffRange(text)) return;
  require(endsWith(text, unitFlag == 0 ? " kg" : " lb"), "a weight without its unit", text);
  const auto weight = readShownWeight(text);
  require(weight.has_value(), "a weight the plant's readers cannot read", text);
  // The same number: "12." reads as 12, "-0.00" as 0.
  require(numericValue(decimalText(*weight)) == numericValue(text),
          "a weight that reads back as another number", text);
}

}  // namespace
}  // namespace trv4

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  FuzzedDataProvider in(data, size);
  const int unitFlag = in.ConsumeIntegralInRange(0, 1);
  const std::string step = in.ConsumeRandomLengthString(8);
  const std::string field = in.ConsumeRandomLengthString(6);  // a scale's weight field
  const std::string status = in.ConsumeRemainingBytesAsString();

  checkShown(FormatWeight(field, unitFlag, step), unitFlag);

  PanelView view;
  applyDisplayRule(status, unitFlag, step, view);
  const int flags = status.empty() ? 0 : static_cast<unsigned char>(status.front());
  const std::string shownField = status.size() > 6 ? status.substr(status.size() - 6) : status;
  if ((flags & TextBit) != 0) {
    require(view.text == shownField && !view.netVisible && !view.motionVisible,
            "a scale's text not shown as it came", view.text);
  } else if ((flags & NegativeBit) != 0) {
    // The sign goes in front of what the field shows, which may hold a sign of its own.
    require(view.text.starts_with("-"), "a negative weight without its sign", view.text);
    checkShown(view.text.substr(1), unitFlag);
  } else {
    checkShown(view.text, unitFlag);
  }
  return 0;
}

#include "capture/capture_csv.h"

#include "display/shown_weight.h"
#include "link/link_state.h"
#include "net/weight_message.h"
#include "service/csv_line.h"

namespace trv4 {

namespace {
constexpr std::size_t kPage = 1000;
}

const std::vector<std::string>& captureColumns() {
  static const std::vector<std::string> columns = {"sequence", "time (UTC)",   "scale",
                                                   "text",     "weight",       "unit",
                                                   "net",      "requested by", "delivered"};
  return columns;
}

std::vector<std::string> captureFields(const Capture& c) {
  const ShownWeight w{c.digits, c.decimals, c.unit};
  const std::string scale =
      c.scale >= 0 && c.scale < kMaxScales ? std::string(1, scaleAddress(c.scale)) : "?";
  return {std::to_string(c.sequence),
          isoTime(c.utcMs),
          scale,
          c.text,
          decimalText(w),
          c.unit,
          c.net ? "net" : "gross",
          c.requestedBy,
          c.delivered ? "yes" : "no"};
}

std::string capturesCsv(const CaptureDesk& desk) {
  std::string out = csvLine(captureColumns()) + "\r\n";
  uint64_t last = 0;
  for (;;) {
    const std::vector<Capture> page = desk.after(last, kPage);
    for (const Capture& c : page) out += csvLine(captureFields(c)) + "\r\n";
    if (page.size() < kPage) break;
    last = page.back().sequence;
  }
  return out;
}

}  // namespace trv4

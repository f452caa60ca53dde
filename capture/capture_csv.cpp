#include "capture/capture_csv.h"

#include <memory>

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

namespace {

struct CsvReading {
  const CaptureDesk& desk;
  std::function<void(std::string)> done;
  std::string text;
};

void readPage(const std::shared_ptr<CsvReading>& reading, uint64_t after) {
  reading->desk.readAfter(after, kPage, [reading](std::vector<Capture> page) {
    for (const Capture& c : page) reading->text += csvLine(captureFields(c)) + "\r\n";
    if (page.size() < kPage)
      reading->done(std::move(reading->text));
    else
      readPage(reading, page.back().sequence);
  });
}

}  // namespace

void readCapturesCsv(const CaptureDesk& desk, std::function<void(std::string)> done) {
  auto reading = std::make_shared<CsvReading>(
      CsvReading{desk, std::move(done), csvLine(captureColumns()) + "\r\n"});
  readPage(reading, 0);
}

}  // namespace trv4

// A request's query and body as a client may send them, through the readers the HTTP server
// calls: each answer is either in range or a refusal with a reason.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QUrlQuery>
#include <string>

#include "fuzz/require.h"
#include "http/request_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trv4;
  FuzzedDataProvider in(data, size);
  const std::string query = in.ConsumeRandomLengthString(200);
  const std::string body = in.ConsumeRemainingBytesAsString();
  const QUrlQuery q(QString::fromUtf8(query.data(), static_cast<qsizetype>(query.size())));
  const QByteArray b(body.data(), static_cast<qsizetype>(body.size()));

  std::string why;
  if (const auto p = captureParams(q, b, &why)) {
    fuzz::require(p->stableAnswers >= 1 && p->stableAnswers <= 50 && p->timeoutMs >= 100 &&
                      p->timeoutMs <= 60000,
                  "request params", "a capture asked for out of range");
  } else {
    fuzz::require(!why.empty(), "request params", "a capture refused without a reason");
  }
  why.clear();
  if (const auto c = commandParam(q, b, &why)) {
    fuzz::require(*c == 'Z' || *c == 'T' || *c == 'G', "request params", "an unknown command");
  } else {
    fuzz::require(!why.empty(), "request params", "a command refused without a reason");
  }
  why.clear();
  if (const auto page = capturePage(q, &why)) {
    fuzz::require(page->limit >= 1 && page->limit <= kCapturePageMax &&
                      page->after <= static_cast<uint64_t>(INT64_MAX),
                  "request params", "a page asked for out of range");
  } else {
    fuzz::require(!why.empty(), "request params", "a page refused without a reason");
  }
  return 0;
}

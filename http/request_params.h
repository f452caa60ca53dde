// What a request asks for, from its query or its JSON body (an object): read with QUrlQuery and
// QJsonDocument, every value checked. A key not known, given twice, or out of range is refused
// with a plain sentence.
#pragma once

#include <QByteArray>
#include <QUrlQuery>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace trv4 {

struct CaptureParams {
  int stableAnswers = 3;  // "stable": 1..50
  int timeoutMs = 5000;   // "timeout_ms": 100..60000
};
std::optional<CaptureParams> captureParams(const QUrlQuery& query, const QByteArray& body,
                                           std::string* why);

// "command": "Z", "T" or "G".
std::optional<char> commandParam(const QUrlQuery& query, const QByteArray& body, std::string* why);

// GET /api/v1/captures: "after" a sequence number (default 0), "limit" 1..kCapturePageMax
// (default 100).
inline constexpr std::size_t kCapturePageMax = 1000;
struct CapturePage {
  uint64_t after = 0;
  std::size_t limit = 100;
};
std::optional<CapturePage> capturePage(const QUrlQuery& query, std::string* why);

}  // namespace trv4

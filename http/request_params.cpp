#include "http/request_params.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>
#include <cmath>
#include <map>

namespace trv4 {

namespace {

// Every parameter as text or a JSON value, by name; nullopt and *why when the query and the
// body cannot be read or name something not in known.
std::optional<std::map<QString, QJsonValue>> gather(const QUrlQuery& query, const QByteArray& body,
                                                    const QStringList& known, std::string* why) {
  std::map<QString, QJsonValue> found;
  const auto add = [&](const QString& key, const QJsonValue& value) {
    if (!known.contains(key)) {
      *why = "there is no parameter \"" + key.toStdString() + "\"";
      return false;
    }
    if (!found.emplace(key, value).second) {
      *why = "\"" + key.toStdString() + "\" is given twice";
      return false;
    }
    return true;
  };
  for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
    if (!add(key, QJsonValue(value))) return std::nullopt;
  if (!body.trimmed().isEmpty()) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
      *why = "the body is not a JSON object";
      return std::nullopt;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it)
      if (!add(it.key(), it.value())) return std::nullopt;
  }
  return found;
}

// A whole number from lo to hi: a JSON number, or its text in the query.
bool wholeNumber(const QJsonValue& v, int64_t lo, int64_t hi, int64_t* out) {
  if (v.isDouble()) {
    const double d = v.toDouble();
    if (d != std::floor(d) || d < static_cast<double>(lo) || d > static_cast<double>(hi))
      return false;
    *out = static_cast<int64_t>(d);
    return true;
  }
  if (!v.isString()) return false;
  bool ok = false;
  const qlonglong n = v.toString().toLongLong(&ok);
  if (!ok || n < lo || n > hi) return false;
  *out = n;
  return true;
}

std::string range(const char* name, int64_t lo, int64_t hi) {
  return std::string("\"") + name + "\" must be a whole number from " + std::to_string(lo) +
         " to " + std::to_string(hi);
}

}  // namespace

std::optional<CaptureParams> captureParams(const QUrlQuery& query, const QByteArray& body,
                                           std::string* why) {
  const auto found = gather(query, body, {"stable", "timeout_ms"}, why);
  if (!found) return std::nullopt;
  CaptureParams p;
  int64_t n = 0;
  if (const auto it = found->find("stable"); it != found->end()) {
    if (!wholeNumber(it->second, 1, 50, &n)) {
      *why = range("stable", 1, 50);
      return std::nullopt;
    }
    p.stableAnswers = static_cast<int>(n);
  }
  if (const auto it = found->find("timeout_ms"); it != found->end()) {
    if (!wholeNumber(it->second, 100, 60000, &n)) {
      *why = range("timeout_ms", 100, 60000);
      return std::nullopt;
    }
    p.timeoutMs = static_cast<int>(n);
  }
  return p;
}

std::optional<char> commandParam(const QUrlQuery& query, const QByteArray& body, std::string* why) {
  const auto found = gather(query, body, {"command"}, why);
  if (!found) return std::nullopt;
  const auto it = found->find("command");
  const QString command = it == found->end() ? QString() : it->second.toString();
  if (command != "Z" && command != "T" && command != "G") {
    *why = "\"command\" must be \"Z\", \"T\" or \"G\"";
    return std::nullopt;
  }
  return command.at(0).toLatin1();
}

std::optional<CapturePage> capturePage(const QUrlQuery& query, std::string* why) {
  const auto found = gather(query, {}, {"after", "limit"}, why);
  if (!found) return std::nullopt;
  CapturePage page;
  int64_t n = 0;
  if (const auto it = found->find("after"); it != found->end()) {
    if (!wholeNumber(it->second, 0, INT64_MAX, &n)) {
      *why = "\"after\" must be a sequence number, 0 or more";
      return std::nullopt;
    }
    page.after = static_cast<uint64_t>(n);
  }
  if (const auto it = found->find("limit"); it != found->end()) {
    if (!wholeNumber(it->second, 1, static_cast<int64_t>(kCapturePageMax), &n)) {
      *why = range("limit", 1, static_cast<int64_t>(kCapturePageMax));
      return std::nullopt;
    }
    page.limit = static_cast<std::size_t>(n);
  }
  return page;
}

}  // namespace trv4

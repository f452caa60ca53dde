#include "sparkplug/sparkplug_state.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace trv4 {

std::optional<SparkplugHostState> parseSparkplugHostState(const std::string& payload) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(
      QByteArray(payload.data(), static_cast<qsizetype>(payload.size())), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  const QJsonValue online = o.value(QLatin1String("online"));
  const QJsonValue timestamp = o.value(QLatin1String("timestamp"));
  if (!online.isBool() || !timestamp.isDouble()) return std::nullopt;
  const double t = timestamp.toDouble();
  // Whole milliseconds that a double holds exactly.
  if (!(t >= 0 && t <= 9007199254740992.0) || std::floor(t) != t) return std::nullopt;
  return SparkplugHostState{online.toBool(), static_cast<int64_t>(t)};
}

}  // namespace trv4

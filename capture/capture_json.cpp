#include "capture/capture_json.h"

#include <QJsonDocument>
#include <cmath>

#include "link/link_state.h"
#include "net/weight_message.h"

namespace trv4 {

QJsonObject captureJson(const Capture& c) {
  const QString address =
      c.scale >= 0 && c.scale < kMaxScales ? QString(QChar(scaleAddress(c.scale))) : QString();
  return QJsonObject{
      {"sequence", static_cast<qint64>(c.sequence)},
      {"address", address},
      {"scale", c.scale},
      {"text", QString::fromStdString(c.text)},
      {"weight", c.digits / std::pow(10.0, c.decimals)},
      {"digits", c.digits},
      {"decimals", c.decimals},
      {"unit", QString::fromStdString(c.unit)},
      {"net", c.net},
      {"time", QString::fromStdString(isoTime(c.utcMs))},
      {"utcMs", static_cast<qint64>(c.utcMs)},
      {"requestedBy", QString::fromStdString(c.requestedBy)},
  };
}

std::string captureMessage(const Capture& c) {
  return QJsonDocument(captureJson(c)).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace trv4

#include "http/api_json.h"

#include <QJsonDocument>
#include <cmath>

#include "base/blank_trim.h"
#include "base/codepage.h"
#include "link/link_state.h"
#include "net/weight_message.h"

namespace trv4 {

namespace {

QString address(int scale) {
  return QString(QChar::fromLatin1(scaleAddress(scale)));
}

}  // namespace

QJsonObject apiCaptureJson(const Capture& c) {
  QJsonObject o;
  o["sequence"] = static_cast<qint64>(c.sequence);
  o["address"] = address(c.scale);
  o["text"] = QString::fromStdString(c.text);
  o["weight"] = static_cast<double>(c.digits) / std::pow(10.0, c.decimals);
  o["digits"] = static_cast<qint64>(c.digits);
  o["decimals"] = c.decimals;
  o["unit"] = QString::fromStdString(c.unit);
  o["net"] = c.net;
  o["time"] = QString::fromStdString(isoTime(c.utcMs));
  o["requestedBy"] = QString::fromStdString(c.requestedBy);
  o["delivered"] = c.delivered;
  return o;
}

QJsonObject panelJson(int scale, const PanelView& view) {
  QJsonObject o;
  o["address"] = address(scale);
  o["text"] = QString::fromStdString(codePageToUtf8(trimBlanks(view.text, " ")));
  o["net"] = view.netVisible;
  o["mark"] = view.motionVisible ? QString::fromStdString(codePageToUtf8(view.motionText)) : "";
  o["offRange"] = view.text == kOffRangeText;
  return o;
}

QJsonObject linkJson(int scale, const ScaleCounters& c, bool answering, int64_t nowMs) {
  QJsonObject o;
  o["address"] = address(scale);
  o["answering"] = answering;
  o["requests"] = static_cast<qint64>(c.requests);
  o["replies"] = static_cast<qint64>(c.replies);
  o["timeouts"] = static_cast<qint64>(c.timeouts);
  o["badFrames"] = static_cast<qint64>(c.badFrames());
  o["naks"] = static_cast<qint64>(c.naks);
  const double share = c.answeredShare();
  o["answeredShare"] = share < 0 ? QJsonValue() : QJsonValue(share);
  o["replyMs"] = c.lastReplyMs < 0 ? QJsonValue() : QJsonValue(static_cast<qint64>(c.lastReplyMs));
  o["lastReplyAgeS"] = c.lastReplyAt < 0
                           ? QJsonValue()
                           : QJsonValue(static_cast<double>(nowMs - c.lastReplyAt) / 1000.0);
  return o;
}

QByteArray errorBody(const std::string& error, const std::string& message) {
  QJsonObject o;
  o["error"] = QString::fromStdString(error);
  if (!message.empty()) o["message"] = QString::fromStdString(message);
  return compact(o);
}

QByteArray compact(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace trv4

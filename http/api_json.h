// The JSON the API and the dashboard's feed answer with, besides the weight message of
// net/weight_message.h (which GET /api/v1/scales answers with as MQTT publishes it).
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <cstdint>
#include <string>

#include "capture/capture_desk.h"
#include "display/weight_format.h"
#include "link/link_stats.h"

namespace trv4 {

// {"sequence":17,"address":"A","text":"12.34 kg","weight":12.34,"digits":1234,"decimals":2,
//  "unit":"kg","net":false,"time":"2026-12-06T14:03:59.123Z","requestedBy":"http",
//  "delivered":false}
QJsonObject apiCaptureJson(const Capture& capture);

// A panel as the monitor shows it, for the dashboard: {"address":"A","text":"12.34 kg",
// "net":false,"mark":"M","offRange":false} (mark: "M" moving, "o" centre of zero, "" none).
QJsonObject panelJson(int scale, const PanelView& view);

// A scale's link health for the dashboard: {"address":"A","answering":true,"requests":..,
// "replies":..,"timeouts":..,"badFrames":..,"naks":..,"answeredShare":0.99,
// "replyMs":12,"lastReplyAgeS":0.1} (the last three null before the first answer).
QJsonObject linkJson(int scale, const ScaleCounters& counters, bool answering, int64_t nowMs);

// An error's body: {"error":"not found","message":"..."}.
QByteArray errorBody(const std::string& error, const std::string& message);

QByteArray compact(const QJsonObject& object);

}  // namespace trv4

// A capture as JSON, as MQTT delivery sends it and other clients may serve it:
// {"sequence":17,"address":"A","scale":0,"text":"12.34 kg","weight":12.34,"digits":1234,
//  "decimals":2,"unit":"kg","net":false,"time":"2026-12-06T14:03:59.123Z",
//  "utcMs":1796565839123,"requestedBy":"operator"}
// weight is digits / 10^decimals; time is utcMs as UTC. Whether it was delivered is the journal's
// business and not part of it.
#pragma once

#include <QJsonObject>
#include <string>

#include "capture/capture_desk.h"

namespace trv4 {

QJsonObject captureJson(const Capture& capture);
// captureJson as one line of UTF-8.
std::string captureMessage(const Capture& capture);

}  // namespace trv4

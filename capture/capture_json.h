// A capture as JSON, as MQTT delivery sends it and other clients may serve it, the keys in
// alphabetical order:
// {"address":"A","decimals":2,"digits":1234,"net":false,"requestedBy":"operator","scale":0,
//  "sequence":17,"text":"12.34 kg","time":"2026-12-06T14:03:59.123Z","unit":"kg",
//  "utcMs":1796565839123,"weight":12.34}
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

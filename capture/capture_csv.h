// The journal as comma-separated values, oldest capture first, for "Export CSV": a head line, then
// one line per capture, each ended by CR LF, in UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "capture/capture_desk.h"

namespace trv4 {

// sequence, time (UTC), scale, text, weight, unit, net, requested by, delivered.
const std::vector<std::string>& captureColumns();
// One capture's fields in the order of captureColumns(): the time as
// "2026-12-06T14:03:59.123Z", the weight as shown ("-12.34"), net "net" or "gross", delivered
// "yes" or "no".
std::vector<std::string> captureFields(const Capture& capture);
// Every capture the desk holds, read a page at a time without waiting for the journal; done gets
// the text later. The desk must outlive the reading.
void readCapturesCsv(const CaptureDesk& desk, std::function<void(std::string)> done);

}  // namespace trv4

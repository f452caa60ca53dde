#include "sparkplug/sparkplug_metrics.h"

#include <cmath>

#include "net/weight_message.h"
#include "sparkplug/sparkplug_payload.pb.h"

namespace trv4 {

namespace {

using PbPayload = spb::Payload;
using PbMetric = spb::Payload::Metric;

constexpr const char* kBdSeq = "bdSeq";
constexpr const char* kRebirth = "Node Control/Rebirth";

struct WritableMetric {
  const char* name;
  const char* command;
};
constexpr WritableMetric kWritable[] = {{"Zero", "Z"}, {"Tare", "T"}, {"Gross", "G"}};

PbMetric* addSparkplugMetric(PbPayload& p, const char* name, SparkplugType type,
                             int64_t timestampMs) {
  PbMetric* m = p.add_metrics();
  m->set_name(name);
  m->set_datatype(static_cast<uint32_t>(type));
  m->set_timestamp(static_cast<uint64_t>(timestampMs));
  return m;
}

void addDeviceMetric(PbPayload& p, const SparkplugDevice& d, DeviceMetric which,
                     int64_t timestampMs) {
  const char* name = deviceMetricName(which);
  auto boolean = [&](bool v) {
    addSparkplugMetric(p, name, SparkplugType::Boolean, timestampMs)->set_boolean_value(v);
  };
  auto counter = [&](uint64_t v) {
    addSparkplugMetric(p, name, SparkplugType::UInt64, timestampMs)->set_long_value(v);
  };
  switch (which) {
    case DeviceMetric::Weight: {
      PbMetric* m = addSparkplugMetric(p, name, SparkplugType::Double, timestampMs);
      if (d.weight)
        m->set_double_value(*d.weight);
      else
        m->set_is_null(true);
      auto* props = m->mutable_properties();
      props->add_keys("engUnit");
      auto* unit = props->add_values();
      unit->set_type(static_cast<uint32_t>(SparkplugType::String));
      unit->set_string_value(d.unit);
      break;
    }
    case DeviceMetric::Text:
      addSparkplugMetric(p, name, SparkplugType::String, timestampMs)->set_string_value(d.text);
      break;
    case DeviceMetric::Net:
      boolean(d.net);
      break;
    case DeviceMetric::Motion:
      boolean(d.motion);
      break;
    case DeviceMetric::CentreOfZero:
      boolean(d.centreOfZero);
      break;
    case DeviceMetric::OffRange:
      boolean(d.offRange);
      break;
    case DeviceMetric::Answering:
      boolean(d.answering);
      break;
    case DeviceMetric::Decimals:
      // Int32 travels in the unsigned field as its two's complement.
      addSparkplugMetric(p, name, SparkplugType::Int32, timestampMs)
          ->set_int_value(static_cast<uint32_t>(d.decimals));
      break;
    case DeviceMetric::Requests:
      counter(d.requests);
      break;
    case DeviceMetric::Replies:
      counter(d.replies);
      break;
    case DeviceMetric::Timeouts:
      counter(d.timeouts);
      break;
    case DeviceMetric::Naks:
      counter(d.naks);
      break;
    case DeviceMetric::BadFrames:
      counter(d.badFrames);
      break;
    case DeviceMetric::Count:
      break;
  }
}

std::string deviceMetricsPayload(const SparkplugDevice& d, SparkplugMetrics mask,
                                 int64_t timestampMs, uint64_t seq, PbPayload& p) {
  p.set_timestamp(static_cast<uint64_t>(timestampMs));
  p.set_seq(seq);
  for (int i = 0; i < static_cast<int>(DeviceMetric::Count); ++i)
    if (mask & metricBit(static_cast<DeviceMetric>(i)))
      addDeviceMetric(p, d, static_cast<DeviceMetric>(i), timestampMs);
  return p.SerializeAsString();
}

// The payload's metrics, or why the payload is no command.
const char* parseCommandPayload(const std::string& payload, PbPayload& p) {
  if (!p.ParseFromString(payload)) return "the payload is no Sparkplug B payload";
  if (p.metrics_size() == 0) return "the payload carries no metric";
  return nullptr;
}

// A metric's name from the network as a message may quote it: its first characters.
std::string quotedName(const std::string& name) {
  return "\"" + name.substr(0, 40) + (name.size() > 40 ? "...\"" : "\"");
}

bool sameWeight(const std::optional<double>& a, const std::optional<double>& b) {
  return a.has_value() == b.has_value() && (!a || *a == *b);
}

}  // namespace

const char* deviceMetricName(DeviceMetric m) {
  switch (m) {
    case DeviceMetric::Weight:
      return "Weight";
    case DeviceMetric::Text:
      return "Text";
    case DeviceMetric::Net:
      return "Net";
    case DeviceMetric::Motion:
      return "Motion";
    case DeviceMetric::CentreOfZero:
      return "Centre of zero";
    case DeviceMetric::OffRange:
      return "Off range";
    case DeviceMetric::Answering:
      return "Answering";
    case DeviceMetric::Decimals:
      return "Decimals";
    case DeviceMetric::Requests:
      return "Link/Requests";
    case DeviceMetric::Replies:
      return "Link/Replies";
    case DeviceMetric::Timeouts:
      return "Link/Time-outs";
    case DeviceMetric::Naks:
      return "Link/NAKs";
    case DeviceMetric::BadFrames:
      return "Link/Bad frames";
    case DeviceMetric::Count:
      break;
  }
  return "";
}

SparkplugDevice sparkplugDevice(const PanelView& view, int unitFlag,
                                const ScaleCounters& counters) {
  const ShownFacts f = shownFacts(view, unitFlag);
  SparkplugDevice d;
  if (f.weight) {
    d.weight = f.weight->digits / std::pow(10.0, f.weight->decimals);
    d.decimals = f.weight->decimals;
  }
  d.unit = f.unit;
  d.text = f.text;
  d.net = f.net;
  d.motion = f.motion;
  d.centreOfZero = f.centreOfZero;
  d.offRange = f.offRange;
  d.answering = !view.text.empty();
  d.requests = counters.requests;
  d.replies = counters.replies;
  d.timeouts = counters.timeouts;
  d.naks = counters.naks;
  d.badFrames = counters.badFrames();
  return d;
}

SparkplugMetrics changedMetrics(const SparkplugDevice& a, const SparkplugDevice& b) {
  SparkplugMetrics m = 0;
  auto mark = [&m](bool differs, DeviceMetric which) {
    if (differs) m |= metricBit(which);
  };
  mark(!sameWeight(a.weight, b.weight) || a.unit != b.unit, DeviceMetric::Weight);
  mark(a.text != b.text, DeviceMetric::Text);
  mark(a.net != b.net, DeviceMetric::Net);
  mark(a.motion != b.motion, DeviceMetric::Motion);
  mark(a.centreOfZero != b.centreOfZero, DeviceMetric::CentreOfZero);
  mark(a.offRange != b.offRange, DeviceMetric::OffRange);
  mark(a.answering != b.answering, DeviceMetric::Answering);
  mark(a.decimals != b.decimals, DeviceMetric::Decimals);
  mark(a.requests != b.requests, DeviceMetric::Requests);
  mark(a.replies != b.replies, DeviceMetric::Replies);
  mark(a.timeouts != b.timeouts, DeviceMetric::Timeouts);
  mark(a.naks != b.naks, DeviceMetric::Naks);
  mark(a.badFrames != b.badFrames, DeviceMetric::BadFrames);
  return m;
}

SparkplugDevice withMetrics(SparkplugDevice d, const SparkplugDevice& now, SparkplugMetrics mask) {
  auto has = [mask](DeviceMetric which) { return (mask & metricBit(which)) != 0; };
  if (has(DeviceMetric::Weight)) {
    d.weight = now.weight;
    d.unit = now.unit;
  }
  if (has(DeviceMetric::Text)) d.text = now.text;
  if (has(DeviceMetric::Net)) d.net = now.net;
  if (has(DeviceMetric::Motion)) d.motion = now.motion;
  if (has(DeviceMetric::CentreOfZero)) d.centreOfZero = now.centreOfZero;
  if (has(DeviceMetric::OffRange)) d.offRange = now.offRange;
  if (has(DeviceMetric::Answering)) d.answering = now.answering;
  if (has(DeviceMetric::Decimals)) d.decimals = now.decimals;
  if (has(DeviceMetric::Requests)) d.requests = now.requests;
  if (has(DeviceMetric::Replies)) d.replies = now.replies;
  if (has(DeviceMetric::Timeouts)) d.timeouts = now.timeouts;
  if (has(DeviceMetric::Naks)) d.naks = now.naks;
  if (has(DeviceMetric::BadFrames)) d.badFrames = now.badFrames;
  return d;
}

std::string nodeBirthPayload(uint64_t bdSeq, int64_t timestampMs) {
  PbPayload p;
  p.set_timestamp(static_cast<uint64_t>(timestampMs));
  p.set_seq(0);
  addSparkplugMetric(p, kBdSeq, SparkplugType::Int64, timestampMs)->set_long_value(bdSeq);
  addSparkplugMetric(p, kRebirth, SparkplugType::Boolean, timestampMs)->set_boolean_value(false);
  return p.SerializeAsString();
}

std::string nodeDeathPayload(uint64_t bdSeq) {
  PbPayload p;
  PbMetric* m = p.add_metrics();
  m->set_name(kBdSeq);
  m->set_datatype(static_cast<uint32_t>(SparkplugType::Int64));
  m->set_long_value(bdSeq);
  return p.SerializeAsString();
}

std::string deviceBirthPayload(const SparkplugDevice& device, bool commands, int64_t timestampMs,
                               uint64_t seq) {
  PbPayload p;
  const SparkplugMetrics all = metricBit(DeviceMetric::Count) - 1;
  if (commands)
    for (const WritableMetric& w : kWritable)
      addSparkplugMetric(p, w.name, SparkplugType::Boolean, timestampMs)->set_boolean_value(false);
  return deviceMetricsPayload(device, all, timestampMs, seq, p);
}

std::string deviceDataPayload(const SparkplugDevice& device, SparkplugMetrics mask,
                              int64_t timestampMs, uint64_t seq) {
  PbPayload p;
  return deviceMetricsPayload(device, mask, timestampMs, seq, p);
}

std::string deviceDeathPayload(int64_t timestampMs, uint64_t seq) {
  PbPayload p;
  p.set_timestamp(static_cast<uint64_t>(timestampMs));
  p.set_seq(seq);
  return p.SerializeAsString();
}

SparkplugCommand decodeNodeCommand(const std::string& payload) {
  SparkplugCommand c;
  PbPayload p;
  if (const char* why = parseCommandPayload(payload, p)) {
    c.refused = why;
    return c;
  }
  for (const PbMetric& m : p.metrics()) {
    if (m.name() != kRebirth) {
      c.refused = "the node has no writable metric " + quotedName(m.name());
      return {false, {}, c.refused};
    }
    if (!m.has_boolean_value()) {
      c.refused = std::string(kRebirth) + " is not Boolean";
      return {false, {}, c.refused};
    }
    c.rebirth = c.rebirth || m.boolean_value();
  }
  return c;
}

SparkplugCommand decodeDeviceCommand(const std::string& payload, bool commands) {
  SparkplugCommand c;
  PbPayload p;
  if (const char* why = parseCommandPayload(payload, p)) {
    c.refused = why;
    return c;
  }
  for (const PbMetric& m : p.metrics()) {
    const WritableMetric* found = nullptr;
    for (const WritableMetric& w : kWritable)
      if (commands && m.name() == w.name) found = &w;
    if (!found) return {false, {}, "the device has no writable metric " + quotedName(m.name())};
    if (!m.has_boolean_value()) return {false, {}, quotedName(m.name()) + " is not Boolean"};
    if (m.boolean_value()) c.commands.push_back(found->command);
  }
  return c;
}

}  // namespace trv4

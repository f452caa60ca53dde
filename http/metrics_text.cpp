#include "http/metrics_text.h"

#include <cstdio>
#include <functional>
#include <vector>

#include "net/shown_weight.h"

namespace trv4 {

namespace {

// A label value: backslash, quote and line feed escaped (scale "\" is an address).
std::string labelValue(char address) {
  if (address == '\\' || address == '"') return std::string("\\") + address;
  return std::string(1, address);
}

std::string seconds(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(ms) / 1000.0);
  return buf;
}

class Exposition {
 public:
  void family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void sample(const char* name, const std::string& labels, const std::string& value) {
    text_ += name;
    if (!labels.empty()) text_ += "{" + labels + "}";
    text_ += " " + value + "\n";
  }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string metricsText(const PlantSnapshot& snapshot, const MetricsExtras& extras) {
  std::vector<int> polled;
  for (int i = 0; i < kMaxScales; ++i)
    if (snapshot.scales[i].polled) polled.push_back(i);
  const int64_t now = snapshot.linkNowMs();
  const auto counters = [&snapshot](int i) -> const ScaleCounters& {
    return snapshot.scales[i].counters;
  };
  const auto view = [&snapshot](int i) -> const PanelView& { return snapshot.scales[i].view; };
  Exposition out;
  const auto perScale = [&](const char* name, const char* type, const char* help,
                            const std::function<std::optional<std::string>(int)>& value) {
    out.family(name, type, help);
    for (const int i : polled)
      if (const auto v = value(i))
        out.sample(name, "scale=\"" + labelValue(scaleAddress(i)) + "\"", *v);
  };
  const auto count = [&](uint32_t ScaleCounters::*field) {
    return [&counters, field](int i) -> std::optional<std::string> {
      return std::to_string(counters(i).*field);
    };
  };
  const auto flag = [](bool b) -> std::optional<std::string> { return b ? "1" : "0"; };

  perScale("trv4_scale_requests_total", "counter", "Status requests sent to the scale.",
           count(&ScaleCounters::requests));
  perScale("trv4_scale_commands_total", "counter", "Command frames sent to the scale.",
           count(&ScaleCounters::commands));
  perScale("trv4_scale_replies_total", "counter", "Answers filed for the scale.",
           count(&ScaleCounters::replies));
  perScale("trv4_scale_timeouts_total", "counter",
           "Exchanges with the scale that ended unanswered.", count(&ScaleCounters::timeouts));
  perScale("trv4_scale_naks_total", "counter", "Negative acknowledges from the scale.",
           count(&ScaleCounters::naks));

  const char* badName = "trv4_scale_bad_frames_total";
  out.family(badName, "counter", "Frames that could not be filed while the scale was asked.");
  for (const int i : polled) {
    const ScaleCounters& c = counters(i);
    const std::string scale = "scale=\"" + labelValue(scaleAddress(i)) + "\"";
    out.sample(badName, scale + ",kind=\"bad_check\"", std::to_string(c.badCheck));
    out.sample(badName, scale + ",kind=\"cut\"", std::to_string(c.cut));
    out.sample(badName, scale + ",kind=\"wrong_address\"", std::to_string(c.wrongAddress));
    out.sample(badName, scale + ",kind=\"noise\"", std::to_string(c.noise));
  }

  perScale("trv4_scale_reply_time_seconds", "gauge",
           "Time from the request leaving to the last answer's end.",
           [&](int i) -> std::optional<std::string> {
             const int64_t ms = counters(i).lastReplyMs;
             if (ms < 0) return std::nullopt;
             return seconds(ms);
           });
  perScale("trv4_scale_reply_time_max_seconds", "gauge", "Longest reply time since start-up.",
           [&](int i) -> std::optional<std::string> {
             if (counters(i).replies == 0) return std::nullopt;
             return seconds(counters(i).maxReplyMs);
           });
  perScale("trv4_scale_last_reply_age_seconds", "gauge", "Time since the scale last answered.",
           [&](int i) -> std::optional<std::string> {
             const int64_t at = counters(i).lastReplyAt;
             if (at < 0) return std::nullopt;
             return seconds(now - at);
           });
  perScale("trv4_scale_answering", "gauge",
           "1 while the scale's panel shows an answer within its display hold.",
           [&](int i) { return flag(snapshot.scales[i].answering); });

  const char* weightName = "trv4_scale_weight";
  out.family(weightName, "gauge", "The weight the scale's monitor panel shows, in its unit.");
  for (const int i : polled) {
    if (const auto w = readShownWeight(view(i).text))
      out.sample(weightName,
                 "scale=\"" + labelValue(scaleAddress(i)) + "\",unit=\"" + w->unit + "\"",
                 decimalText(*w));
  }
  perScale("trv4_scale_net", "gauge", "1 while the panel shows a net weight.",
           [&](int i) { return flag(view(i).netVisible); });
  perScale("trv4_scale_motion", "gauge", "1 while the panel shows the motion mark.", [&](int i) {
    const PanelView& v = view(i);
    return flag(v.motionVisible && v.motionText == "M");
  });
  perScale("trv4_scale_off_range", "gauge", "1 while the panel shows Off Range.",
           [&](int i) { return flag(view(i).text == kOffRangeText); });

  out.family("trv4_serial_port_open", "gauge", "1 while the serial port is open.");
  out.sample("trv4_serial_port_open", "", snapshot.portOpen ? "1" : "0");
  out.family("trv4_mqtt_enabled", "gauge", "1 when TRV4NET.INI turns MQTT publishing on.");
  out.sample("trv4_mqtt_enabled", "", snapshot.mqttConnected ? "1" : "0");
  if (snapshot.mqttConnected) {
    out.family("trv4_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
    out.sample("trv4_mqtt_connected", "", *snapshot.mqttConnected ? "1" : "0");
  }
  if (const std::optional<SparkplugCounters>& sp = snapshot.sparkplug) {
    out.family("trv4_sparkplug_connected", "gauge",
               "1 while Sparkplug B's connection to the broker is up.");
    out.sample("trv4_sparkplug_connected", "", sp->connected ? "1" : "0");
    out.family("trv4_sparkplug_messages_total", "counter", "Sparkplug B messages published.");
    out.sample("trv4_sparkplug_messages_total", "", std::to_string(sp->messages));
    out.family("trv4_sparkplug_ignored_total", "counter",
               "Sparkplug B commands and host states ignored: malformed, unknown or retained.");
    out.sample("trv4_sparkplug_ignored_total", "", std::to_string(sp->ignored));
    out.family("trv4_sparkplug_refused_total", "counter",
               "Sparkplug B commands refused, as MQTT's are.");
    out.sample("trv4_sparkplug_refused_total", "", std::to_string(sp->refused));
  }
  if (extras.capturesWaiting) {
    out.family("trv4_captures_waiting_for_delivery", "gauge",
               "Committed captures the MQTT broker has not acknowledged yet.");
    out.sample("trv4_captures_waiting_for_delivery", "", std::to_string(*extras.capturesWaiting));
  }
  out.family("trv4_http_connections", "gauge", "Open HTTP connections, dashboards included.");
  out.sample("trv4_http_connections", "", std::to_string(extras.httpConnections));
  out.family("trv4_http_dashboards", "gauge", "Dashboards following the weights live.");
  out.sample("trv4_http_dashboards", "", std::to_string(extras.dashboards));
  return out.take();
}

}  // namespace trv4

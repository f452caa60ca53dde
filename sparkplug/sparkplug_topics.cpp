#include "sparkplug/sparkplug_topics.h"

#include <cstdio>

#include "link/link_state.h"

namespace trv4 {

std::string sparkplugDeviceId(char address) {
  const auto u = static_cast<unsigned char>(address);
  if (u > 0x20 && u < 0x7F && address != '/' && address != '+' && address != '#' && address != '%')
    return std::string(1, address);
  char buf[4];
  std::snprintf(buf, sizeof buf, "%%%02X", u);
  return buf;
}

std::string sparkplugNodeTopic(const std::string& group, const std::string& type,
                               const std::string& edge) {
  return std::string(kSparkplugNamespace) + "/" + group + "/" + type + "/" + edge;
}

std::string sparkplugDeviceTopic(const std::string& group, const std::string& type,
                                 const std::string& edge, char address) {
  return sparkplugNodeTopic(group, type, edge) + "/" + sparkplugDeviceId(address);
}

std::string sparkplugStateTopic(const std::string& host) {
  return std::string(kSparkplugNamespace) + "/STATE/" + host;
}

SparkplugTopic parseSparkplugTopic(const std::string& topic, const std::string& group,
                                   const std::string& edge, const std::string& host) {
  if (!host.empty() && topic == sparkplugStateTopic(host)) return {SparkplugTopic::State, -1};
  if (topic == sparkplugNodeTopic(group, "NCMD", edge)) return {SparkplugTopic::NodeCommand, -1};
  const std::string head = sparkplugNodeTopic(group, "DCMD", edge) + "/";
  if (topic.size() > head.size() && topic.compare(0, head.size(), head) == 0) {
    const std::string id = topic.substr(head.size());
    for (int i = 0; i < kMaxScales; ++i)
      if (id == sparkplugDeviceId(scaleAddress(i))) return {SparkplugTopic::DeviceCommand, i};
  }
  return {};
}

}  // namespace trv4

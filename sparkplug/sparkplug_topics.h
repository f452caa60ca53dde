// The node's, the devices' and the primary host's topics under spBv1.0, and which of ours a
// received topic is.
#pragma once

#include <string>

namespace trv4 {

inline constexpr const char* kSparkplugNamespace = "spBv1.0";

// A scale's device id: its address character, percent-encoded where a topic level may not hold
// it ('/', '+', '#', '%' and anything not printable ASCII).
std::string sparkplugDeviceId(char address);

// spBv1.0/<group>/<type>/<edge>
std::string sparkplugNodeTopic(const std::string& group, const std::string& type,
                               const std::string& edge);
// spBv1.0/<group>/<type>/<edge>/<device id of address>
std::string sparkplugDeviceTopic(const std::string& group, const std::string& type,
                                 const std::string& edge, char address);
// spBv1.0/STATE/<host>
std::string sparkplugStateTopic(const std::string& host);

struct SparkplugTopic {
  enum Kind { Other, NodeCommand, DeviceCommand, State };
  Kind kind = Other;
  int scale = -1;  // DeviceCommand: the scale's index 0..29
};

// What topic is for this node: its NCMD, a DCMD of one of its devices (a scale address), the
// primary host's STATE (host empty: none), or Other.
SparkplugTopic parseSparkplugTopic(const std::string& topic, const std::string& group,
                                   const std::string& edge, const std::string& host);

}  // namespace trv4

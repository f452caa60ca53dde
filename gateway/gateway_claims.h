// What two gateways on one PC must not share, each a claim (claim/process_claim.h) this gateway
// holds while it runs: its folder, its MQTT client ids and Sparkplug edge node on its broker, its
// listening ports, and its serial device. A clash of the first three refuses the start; a serial
// device another gateway holds is waited for, since the line is free again as soon as that gateway
// ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "claim/process_claim.h"
#include "link/serial_port.h"
#include "net/net_settings.h"

namespace trv4 {

struct GatewayClaim {
  std::string kind;   // the claim's kind
  std::string value;  // canonical: the same thing is the same text in every gateway
  std::string what;   // as the clash message names it: "the HTTP port 8480"
};

// The claims for a gateway's folder and the services its TRV4NET.INI enables. A new service that
// must not be shared is one more row here.
std::vector<GatewayClaim> startClaims(const std::string& folder, const NetSettings& net);

// Takes every claim, each name once (a gateway may give two services one port; their own start
// then says so). False at the first one another gateway holds, told as "Another gateway already
// uses <what>."; a claim the system cannot make is told and passed over.
bool takeClaims(const std::vector<GatewayClaim>& claims, std::vector<ProcessClaim>& held,
                const std::function<void(const std::string&)>& tell);

// The claim on the serial device, as the port's open guard: the device's real path (a ./COMn
// link followed) claimed before it is opened, refused while another gateway holds it. One device
// at a time: a port that moves to another device lets the first go.
class DeviceClaim {
 public:
  PortError operator()(int port, const std::string& device);

 private:
  std::string device_;
  ProcessClaim claim_;
};

}  // namespace trv4

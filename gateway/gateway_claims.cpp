#include "gateway/gateway_claims.h"

#include <filesystem>
#include <set>

#include "net/mosquitto_transport.h"
#include "plant/sparkplug_service.h"
#include "sparkplug/sparkplug_publisher.h"

namespace trv4 {

namespace {

std::string realPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : real.string();
}

// A client id is one per broker: the broker drops the older connection when a second comes.
GatewayClaim mqttClientClaim(const MqttSettings& mqtt, const std::string& clientId) {
  const std::string broker = mqtt.host + ":" + std::to_string(mqtt.port);
  return {"mqtt client", broker + " " + clientId,
          "the MQTT client id " + clientId + " on broker " + broker};
}

// Two edge nodes of one name on one broker would each take the other's births for its own.
GatewayClaim edgeNodeClaim(const MqttSettings& mqtt, const SparkplugSettings& sparkplug) {
  const std::string broker = mqtt.host + ":" + std::to_string(mqtt.port);
  const std::string node = sparkplug.groupId + "/" + sparkplugEdgeNodeId(sparkplug);
  return {"sparkplug node", broker + " " + node,
          "the Sparkplug edge node " + node + " on broker " + broker};
}

// HTTP and Modbus share the kind: whichever service a port is for, the second bind fails.
GatewayClaim listeningClaim(const std::string& service, int port) {
  return {"tcp port", std::to_string(port), "the " + service + " port " + std::to_string(port)};
}

}  // namespace

std::vector<GatewayClaim> startClaims(const std::string& folder, const NetSettings& net) {
  const std::string real = realPath(folder);
  std::vector<GatewayClaim> claims{{"folder", real, "the folder " + real}};
  if (net.mqtt.enabled)
    claims.push_back(mqttClientClaim(net.mqtt, MosquittoTransport::clientId(net.mqtt)));
  if (net.sparkplug.enabled) {
    claims.push_back(mqttClientClaim(net.mqtt, sparkplugClientId(net.mqtt)));
    claims.push_back(edgeNodeClaim(net.mqtt, net.sparkplug));
  }
  if (net.http.enabled) claims.push_back(listeningClaim("HTTP", net.http.port));
  if (net.modbus.enabled) claims.push_back(listeningClaim("Modbus TCP", net.modbus.port));
  return claims;
}

bool takeClaims(const std::vector<GatewayClaim>& claims, std::vector<ProcessClaim>& held,
                const std::function<void(const std::string&)>& tell) {
  std::set<std::string> names;
  for (const GatewayClaim& claim : claims) {
    if (!names.insert(claimName(claim.kind, claim.value)).second) continue;
    ProcessClaim taken(claim.kind, claim.value);
    switch (taken.outcome()) {
      case ClaimOutcome::kHeldElsewhere:
        tell("Another gateway already uses " + claim.what + ".");
        return false;
      case ClaimOutcome::kFailed:
        tell("Whether another gateway uses " + claim.what + " cannot be checked (" + taken.error() +
             "); this gateway starts anyway.");
        break;
      case ClaimOutcome::kTaken:
      case ClaimOutcome::kNone:
        held.push_back(std::move(taken));
        break;
    }
  }
  return true;
}

PortError DeviceClaim::operator()(int port, const std::string& device) {
  const std::string real = realPath(device);
  if (real == device_ && claim_.outcome() == ClaimOutcome::kTaken) return std::nullopt;
  claim_ = ProcessClaim();  // let the last device go before claiming the next
  ProcessClaim taken("serial device", real);
  if (taken.outcome() == ClaimOutcome::kHeldElsewhere)
    return PortFailure{
        .code = PortFailureCode::kHeldByAnotherGateway, .port = port, .device = real};
  // A claim the system cannot make does not keep the gateway off its line.
  device_ = real;
  claim_ = std::move(taken);
  return std::nullopt;
}

}  // namespace trv4

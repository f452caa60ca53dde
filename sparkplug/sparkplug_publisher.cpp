#include "sparkplug/sparkplug_publisher.h"

#include <unistd.h>

#include "base/codepage.h"
#include "link/command_queue.h"
#include "sparkplug/sparkplug_state.h"
#include "sparkplug/sparkplug_topics.h"

namespace trv4 {

SparkplugWill::SparkplugWill(std::string ndeathTopic) : topic_(std::move(ndeathTopic)) {}

std::string SparkplugWill::nextTry() {
  std::lock_guard<std::mutex> lock(mutex_);
  bdSeq_ = tries_++ == 0 ? 0 : (bdSeq_ + 1) % 256;
  return nodeDeathPayload(bdSeq_);
}

uint64_t SparkplugWill::bdSeq() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bdSeq_;
}

std::string SparkplugWill::payload() const {
  return nodeDeathPayload(bdSeq());
}

std::string sparkplugEdgeNodeId(const SparkplugSettings& settings) {
  if (!settings.edgeNodeId.empty()) return settings.edgeNodeId;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string id = name;
  // A topic level holds no separator nor wildcard.
  for (char& c : id)
    if (c == '/' || c == '+' || c == '#') c = '_';
  return id;
}

std::string sparkplugNodeTopic(const SparkplugSettings& settings, const char* type) {
  return sparkplugNodeTopic(settings.groupId, type, sparkplugEdgeNodeId(settings));
}

SparkplugPublisher::SparkplugPublisher(const SparkplugSettings& settings, int heartbeatS,
                                       MonitorModel& monitor, LinkState& state,
                                       const LinkStats& stats, Toolkit& toolkit,
                                       MqttTransport& transport, CommandBlocker blocker,
                                       SparkplugWill& will)
    : settings_(settings),
      edge_(sparkplugEdgeNodeId(settings)),
      heartbeatS_(heartbeatS),
      monitor_(monitor),
      state_(state),
      stats_(stats),
      toolkit_(toolkit),
      transport_(transport),
      blocker_(std::move(blocker)),
      will_(will) {}

SparkplugPublisher::~SparkplugPublisher() {
  if (listener_ >= 0) monitor_.removeShownListener(listener_);
}

void SparkplugPublisher::start() {
  listener_ = monitor_.addShownListener([this](int i) { onShown(i); });
  heartbeat_ = toolkit_.createTimer([this] { heartbeat(); });
  heartbeat_->restart(heartbeatS_ * 1000);
  MqttTransport::Handlers h;
  h.connected = [this] { onConnected(); };
  h.lost = [this](const MqttFailure& why) { onLost(why); };
  h.delivered = [this] {
    if (inFlight_ > 0) --inFlight_;
    flush();
  };
  h.message = [this](const std::string& topic, const std::string& payload, bool tooLong,
                     bool retained) { onMessage(topic, payload, tooLong, retained); };
  transport_.start(std::move(h));
}

void SparkplugPublisher::finish() {
  if (finished_) return;
  finished_ = true;
  if (heartbeat_) heartbeat_->setEnabled(false);
  transport_.finish(will_.topic(), will_.payload(), 1, false);
  connected_ = false;
  born_ = false;
}

void SparkplugPublisher::onShown(int scale) {
  marked_[scale] = true;
  flush();
}

void SparkplugPublisher::heartbeat() {
  marked_.fill(true);
  countersDue_.fill(true);
  flush();
}

bool SparkplugPublisher::publish(const std::string& topic, const std::string& payload, int qos) {
  if (!transport_.publish(topic, payload, qos, false)) return false;
  ++inFlight_;
  ++messagesPublished_;
  return true;
}

uint64_t SparkplugPublisher::nextSeq() {
  seq_ = (seq_ + 1) % 256;
  return seq_;
}

void SparkplugPublisher::flush() {
  if (!born_ || finished_) return;
  for (int n = 0; n < kMaxScales && inFlight_ < kMqttInFlight; ++n) {
    const int i = next_;
    next_ = (next_ + 1) % kMaxScales;
    if (!marked_[i]) continue;
    const char address = scaleAddress(i);
    const SparkplugDevice now =
        sparkplugDevice(monitor_.panel(i).view, state_.UnitFlag, stats_.scale(i));
    const bool answering = scanMarked(state_, i) && now.answering;
    const int64_t at = toolkit_.wallMs();
    if (alive_[i] && !answering) {
      const uint64_t seq = (seq_ + 1) % 256;
      if (!publish(sparkplugDeviceTopic(settings_.groupId, "DDEATH", edge_, address),
                   deviceDeathPayload(at, seq)))
        return;  // the connection is going: the marks wait for the next one
      nextSeq();
      alive_[i] = false;
    } else if (!alive_[i] && answering) {
      const uint64_t seq = (seq_ + 1) % 256;
      if (!publish(sparkplugDeviceTopic(settings_.groupId, "DBIRTH", edge_, address),
                   deviceBirthPayload(now, settings_.commands, at, seq)))
        return;
      nextSeq();
      alive_[i] = true;
      sent_[i] = now;
    } else if (alive_[i]) {
      const SparkplugMetrics mask =
          changedMetrics(sent_[i], now) & (kPanelMetrics | (countersDue_[i] ? kCounterMetrics : 0));
      if (mask != 0) {
        const uint64_t seq = (seq_ + 1) % 256;
        if (!publish(sparkplugDeviceTopic(settings_.groupId, "DDATA", edge_, address),
                     deviceDataPayload(now, mask, at, seq)))
          return;
        nextSeq();
        sent_[i] = withMetrics(sent_[i], now, mask);
      }
    }
    marked_[i] = false;
    countersDue_[i] = false;
  }
}

void SparkplugPublisher::birth() {
  if (!connected_ || finished_) return;
  seq_ = 0;
  if (!publish(sparkplugNodeTopic(settings_.groupId, "NBIRTH", edge_),
               nodeBirthPayload(will_.bdSeq(), toolkit_.wallMs())))
    return;
  born_ = true;
  // Every device is born again, from its state now.
  alive_.fill(false);
  marked_.fill(true);
  countersDue_.fill(false);
  flush();
}

void SparkplugPublisher::death() {
  if (born_) publish(will_.topic(), will_.payload(), 1);
  born_ = false;
  alive_.fill(false);
}

void SparkplugPublisher::onConnected() {
  if (finished_) return;
  connected_ = true;
  born_ = false;
  inFlight_ = 0;
  alive_.fill(false);
  transport_.subscribe(sparkplugNodeTopic(settings_.groupId, "NCMD", edge_), 1);
  if (settings_.commands)
    transport_.subscribe(sparkplugNodeTopic(settings_.groupId, "DCMD", edge_) + "/+", 1);
  if (!settings_.primaryHostId.empty()) {
    // The births wait for the host's retained STATE.
    hostOnline_ = false;
    transport_.subscribe(sparkplugStateTopic(settings_.primaryHostId), 1);
    return;
  }
  birth();
}

void SparkplugPublisher::onLost(const MqttFailure& why) {
  connected_ = false;
  born_ = false;
  alive_.fill(false);
  const std::string text = "Sparkplug B: " + mqttFailureText(why);
  tellOnce(text, text);
}

void SparkplugPublisher::tellOnce(const std::string& key, const std::string& text) {
  if (told_.insert(key).second) toolkit_.messageBox(utf8ToCodePage(text));
}

void SparkplugPublisher::ignore(const std::string& key, const std::string& text) {
  ++ignoredMessages_;
  tellOnce(key, text);
}

void SparkplugPublisher::onMessage(const std::string& topic, const std::string& payload,
                                   bool tooLong, bool retained) {
  if (finished_) return;
  const SparkplugTopic t =
      parseSparkplugTopic(topic, settings_.groupId, edge_, settings_.primaryHostId);
  // Only the first part of a topic from the network goes into a message.
  const std::string shown = topic.substr(0, 120);
  if (t.kind == SparkplugTopic::Other ||
      (t.kind == SparkplugTopic::DeviceCommand && !settings_.commands)) {
    ++ignoredMessages_;
    return;
  }
  if (tooLong) {
    ignore("too long", "Sparkplug B: a message on " + shown + " was too long and is ignored.");
    return;
  }
  if (t.kind == SparkplugTopic::State) {
    onState(payload);
    return;
  }
  // A retained command was left on the broker some time ago, by anyone: taking it would repeat
  // it at every start and reconnect.
  if (retained) {
    ignore("retained", "Sparkplug B: retained command on " + shown +
                           " ignored: the program takes a command only as it is sent.");
    return;
  }
  if (t.kind == SparkplugTopic::NodeCommand)
    onNodeCommand(payload);
  else
    onDeviceCommand(t.scale, shown, payload);
}

void SparkplugPublisher::onState(const std::string& payload) {
  const std::optional<SparkplugHostState> s = parseSparkplugHostState(payload);
  if (!s) {
    ignore("bad state", "Sparkplug B: the state of host " + settings_.primaryHostId +
                            " is not understood and is ignored.");
    return;
  }
  if (s->timestampMs < hostTimestamp_) {
    ++ignoredMessages_;  // an older state arriving late
    return;
  }
  hostTimestamp_ = s->timestampMs;
  if (s->online == hostOnline_) return;
  hostOnline_ = s->online;
  if (hostOnline_)
    birth();
  else
    death();
}

void SparkplugPublisher::onNodeCommand(const std::string& payload) {
  const SparkplugCommand c = decodeNodeCommand(payload);
  if (!c.refused.empty()) {
    ignore("bad node command", "Sparkplug B: a node command is ignored: " + c.refused + ".");
    return;
  }
  if (c.rebirth && born_) birth();
}

void SparkplugPublisher::onDeviceCommand(int scale, const std::string& topic,
                                         const std::string& payload) {
  const SparkplugCommand c = decodeDeviceCommand(payload, settings_.commands);
  if (!c.refused.empty()) {
    ignore("bad device command",
           "Sparkplug B: the command on " + topic + " is ignored: " + c.refused + ".");
    return;
  }
  const std::string address(1, scaleAddress(scale));
  for (const std::string& command : c.commands) {
    // Only into an empty mailbox of a scale served at the next steps, as MQTT's commands.
    const std::string why = blocker_ ? blocker_(address) : "nothing checks that the scale is free";
    if (!why.empty()) {
      ++refusedCommands_;
      tellOnce("refused: " + why, "Sparkplug B: the command on " + topic + " was refused: " + why +
                                      ". A refused command is not sent later.");
      continue;
    }
    QueueCommand(state_, address, command);
  }
}

}  // namespace trv4

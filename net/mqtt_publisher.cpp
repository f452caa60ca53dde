#include "net/mqtt_publisher.h"

#include "base/codepage.h"
#include "link/command_queue.h"
#include "net/weight_message.h"

namespace trv4 {

MqttPublisher::MqttPublisher(const MqttSettings& settings, MonitorModel& monitor, LinkState& state,
                             Toolkit& toolkit, MqttTransport& transport, CommandBlocker blocker)
    : settings_(settings),
      monitor_(monitor),
      state_(state),
      toolkit_(toolkit),
      transport_(transport),
      blocker_(std::move(blocker)) {}

MqttPublisher::~MqttPublisher() {
  if (listener_ >= 0) monitor_.removeShownListener(listener_);
}

std::string MqttPublisher::weightTopic(int scale) const {
  return settings_.prefix + "/" + std::string(1, scaleAddress(scale)) + "/weight";
}

void MqttPublisher::start() {
  listener_ = monitor_.addShownListener([this](int i) { onShown(i); });
  heartbeat_ = toolkit_.createTimer([this] { heartbeat(); });
  heartbeat_->restart(settings_.heartbeatS * 1000);
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

void MqttPublisher::finish() {
  if (finished_) return;
  finished_ = true;
  if (heartbeat_) heartbeat_->setEnabled(false);
  transport_.finish(statusTopic(), "offline", settings_.qos, true);
  connected_ = false;
}

void MqttPublisher::onShown(int scale) {
  shownAt_[scale] = toolkit_.wallMs();
  spoken_[scale] = true;
  if (!scanMarked(state_, scale)) return;
  if (everSent_[scale] && sent_[scale] == monitor_.panel(scale).view) return;
  pending_[scale] = true;
  flush();
}

void MqttPublisher::heartbeat() {
  for (int i = 0; i < kMaxScales; ++i)
    if (scanMarked(state_, i) && spoken_[i]) pending_[i] = true;
  flush();
}

void MqttPublisher::flush() {
  if (!connected_ || finished_) return;
  for (int n = 0; n < kMaxScales && inFlight_ < kMqttInFlight; ++n) {
    const int i = next_;
    next_ = (next_ + 1) % kMaxScales;
    if (!pending_[i]) continue;
    const PanelView& view = monitor_.panel(i).view;
    const int64_t at = shownAt_[i] != 0 ? shownAt_[i] : toolkit_.wallMs();
    if (!transport_.publish(weightTopic(i),
                            weightMessage(scaleAddress(i), view, state_.UnitFlag, at),
                            settings_.qos, true))
      return;  // the connection is going: the marks wait for the next one
    pending_[i] = false;
    sent_[i] = view;
    everSent_[i] = true;
    ++inFlight_;
    ++weightsPublished_;
  }
}

void MqttPublisher::onConnected() {
  if (finished_) return;
  connected_ = true;
  inFlight_ = 0;
  transport_.publish(statusTopic(), "online", settings_.qos, true);
  if (settings_.commands) transport_.subscribe(settings_.prefix + "/+/command", settings_.qos);
  // Whatever changed while away, and every retained weight, is brought up to date at once.
  heartbeat();
}

void MqttPublisher::onLost(const MqttFailure& why) {
  connected_ = false;
  ++failures_;
  const std::string text = mqttFailureText(why);
  tellOnce(text, text);
}

void MqttPublisher::tellOnce(const std::string& key, const std::string& text) {
  if (told_.insert(key).second) toolkit_.messageBox(utf8ToCodePage(text));
}

void MqttPublisher::onMessage(const std::string& topic, const std::string& payload, bool tooLong,
                              bool retained) {
  // A retained command was left on the broker some time ago, by anyone: taking it would repeat
  // it at every start and reconnect.
  if (retained) {
    ++ignoredCommands_;
    tellOnce("retained", "Retained command on " + topic +
                             " ignored: the program takes a command only as it is sent.");
    return;
  }
  const std::string head = settings_.prefix + "/";
  const std::string tail = "/command";
  const bool shaped = settings_.commands && !tooLong &&
                      topic.size() == head.size() + 1 + tail.size() &&
                      topic.compare(0, head.size(), head) == 0 &&
                      topic.compare(head.size() + 1, tail.size(), tail) == 0;
  const std::string address = shaped ? topic.substr(head.size(), 1) : "";
  const bool known = address == "@" || scaleIndex(address) >= 0;
  if (!shaped || !known || (payload != "Z" && payload != "T" && payload != "G")) {
    ++ignoredCommands_;
    return;
  }
  // Only into an empty mailbox of a scale served at the next steps: a command never takes the
  // place of the operator's, nor waits for a scale nobody polls.
  const std::string why = blocker_ ? blocker_(address) : "nothing checks that the scale is free";
  if (!why.empty()) {
    ++refusedCommands_;
    tellOnce("refused: " + why, "The command on " + topic + " was refused: " + why +
                                    ". A refused command is not sent later.");
    return;
  }
  QueueCommand(state_, address, payload);
}

}  // namespace trv4

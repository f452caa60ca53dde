#include "net/net_settings_keys.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <system_error>

namespace trv4 {

namespace {

// A row of each kind, so that a key's kind and the type of its field always agree.
template <auto G, auto F>
constexpr SettingKey onOff(const char* section, const char* key) {
  return {section, key, SettingKind::Boolean, &fieldAt<G, F>};
}
template <auto G, auto F>
constexpr SettingKey wholeNumber(const char* section, const char* key, int min, int max,
                                 const char* comment = "") {
  return {section, key,    SettingKind::Number, &fieldAt<G, F>, min, max, TextRule::Any,
          false,   comment};
}
template <auto G, auto F>
constexpr SettingKey oneOf(const char* section, const char* key, int min, int max) {
  return {section, key, SettingKind::Choice, &fieldAt<G, F>, min, max};
}
template <auto G, auto F>
constexpr SettingKey textKey(const char* section, const char* key, TextRule rule,
                             const char* comment = "") {
  return {section, key, SettingKind::Text, &fieldAt<G, F>, 0, 0, rule, false, comment};
}
template <auto G, auto F>
constexpr SettingKey secretKey(const char* section, const char* key, TextRule rule,
                               const char* comment) {
  return {section, key, SettingKind::Text, &fieldAt<G, F>, 0, 0, rule, true, comment};
}
template <auto G, auto F>
constexpr SettingKey nameList(const char* section, const char* key, int most, TextRule rule,
                              const char* comment) {
  return {section, key, SettingKind::List, &fieldAt<G, F>, 0, most, rule, false, comment};
}

constexpr TextRule kAny = TextRule::Any;
constexpr TextRule kNotEmpty = TextRule::NotEmpty;

// The file's keys in its order. A comment begins with the blanks that set it apart.
constexpr SettingKey kKeys[] = {
    onOff<&NetSettings::mqtt, &MqttSettings::enabled>("mqtt", "enabled"),
    textKey<&NetSettings::mqtt, &MqttSettings::host>("mqtt", "host", kNotEmpty),
    wholeNumber<&NetSettings::mqtt, &MqttSettings::port>("mqtt", "port", 1, 65535),
    textKey<&NetSettings::mqtt, &MqttSettings::prefix>("mqtt", "prefix", TextRule::TopicLevel),
    textKey<&NetSettings::mqtt, &MqttSettings::clientId>("mqtt", "client_id", kAny,
                                                         "            ; empty: trv4-<host name>"),
    textKey<&NetSettings::mqtt, &MqttSettings::username>("mqtt", "username", kAny),
    secretKey<&NetSettings::mqtt, &MqttSettings::password>(
        "mqtt", "password", kAny,
        "             ; the file is created with mode 0600 when a password is set"),
    textKey<&NetSettings::mqtt, &MqttSettings::caFile>(
        "mqtt", "ca_file", kAny,
        "              ; set: TLS to the broker, verified against this CA"),
    oneOf<&NetSettings::mqtt, &MqttSettings::qos>("mqtt", "qos", 0, 2),
    wholeNumber<&NetSettings::mqtt, &MqttSettings::heartbeatS>("mqtt", "heartbeat_s", 1, 3600),
    onOff<&NetSettings::mqtt, &MqttSettings::commands>("mqtt", "commands"),

    onOff<&NetSettings::sparkplug, &SparkplugSettings::enabled>("sparkplug", "enabled"),
    textKey<&NetSettings::sparkplug, &SparkplugSettings::groupId>("sparkplug", "group_id",
                                                                  TextRule::IdLevel),
    textKey<&NetSettings::sparkplug, &SparkplugSettings::edgeNodeId>(
        "sparkplug", "edge_node_id", TextRule::IdOrEmpty, "         ; empty: the host name"),
    textKey<&NetSettings::sparkplug, &SparkplugSettings::primaryHostId>(
        "sparkplug", "primary_host_id", TextRule::IdOrEmpty,
        "      ; set: births wait until that host is online"),
    onOff<&NetSettings::sparkplug, &SparkplugSettings::commands>("sparkplug", "commands"),

    onOff<&NetSettings::modbus, &ModbusSettings::enabled>("modbus", "enabled"),
    textKey<&NetSettings::modbus, &ModbusSettings::bind>("modbus", "bind", kNotEmpty),
    wholeNumber<&NetSettings::modbus, &ModbusSettings::port>("modbus", "port", 1, 65535),

    onOff<&NetSettings::http, &HttpSettings::enabled>("http", "enabled"),
    textKey<&NetSettings::http, &HttpSettings::bind>("http", "bind", kNotEmpty),
    wholeNumber<&NetSettings::http, &HttpSettings::port>("http", "port", 1, 65535),
    nameList<&NetSettings::http, &HttpSettings::hosts>(
        "http", "hosts", kHttpHostsMax, TextRule::HostName,
        "                ; more names of this PC that requests may give, beside its addresses"),
    secretKey<&NetSettings::http, &HttpSettings::token>(
        "http", "token", TextRule::Token,
        "                ; set: writes need \"Authorization: Bearer <token>\"; the file is 0600"),
    onOff<&NetSettings::http, &HttpSettings::commands>("http", "commands"),

    wholeNumber<&NetSettings::captures, &CaptureSettings::keepDays>(
        "captures", "keep_days", 0, kCaptureKeepDaysMax,
        "              ; 0: keep every capture; N: delivered ones older than N days go"),
};

bool parseBool(const std::string& v, bool* out) {
  if (v == "true")
    *out = true;
  else if (v == "false")
    *out = false;
  else
    return false;
  return true;
}

bool parseInt(const std::string& v, int lo, int hi, int* out) {
  int n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end != v.data() + v.size() || n < lo || n > hi) return false;
  *out = n;
  return true;
}

// A token goes in an HTTP header as it is written: visible ASCII, no blanks, long enough not to
// be guessed.
bool tokenText(const std::string& v) {
  if (v.empty()) return true;
  if (v.size() < kHttpTokenMin || v.size() > kHttpTokenMax) return false;
  return std::all_of(v.begin(), v.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u <= '~';
  });
}

bool hostName(const std::string& v) {
  return v.size() <= kHttpHostNameMax && std::all_of(v.begin(), v.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == ':' ||
                  c == '[' || c == ']';
         });
}

bool follows(TextRule rule, const std::string& v) {
  switch (rule) {
    case TextRule::Any:
      return true;
    case TextRule::NotEmpty:
      return !v.empty();
    case TextRule::TopicLevel:
      return !v.empty() && v.find_first_of("+#") == std::string::npos;
    case TextRule::IdLevel:
      return !v.empty() && v.find_first_of("/+#") == std::string::npos;
    case TextRule::IdOrEmpty:
      return v.find_first_of("/+#") == std::string::npos;
    case TextRule::Token:
      return tokenText(v);
    case TextRule::HostName:
      return hostName(v);
  }
  return false;
}

// What a value of key must be, as a refusal says it.
std::string mustBe(const SettingKey& key) {
  const auto range = [&] { return std::to_string(key.min) + " to " + std::to_string(key.max); };
  switch (key.kind) {
    case SettingKind::Boolean:
      return "must be true or false";
    case SettingKind::Number:
    case SettingKind::Choice:
      return "must be a whole number from " + range();
    case SettingKind::Text:
    case SettingKind::List:
      break;
  }
  switch (key.rule) {
    case TextRule::Any:
      return {};
    case TextRule::NotEmpty:
      return "may not be empty";
    case TextRule::TopicLevel:
      return "must be a topic level without the wildcards + and #";
    case TextRule::IdLevel:
      return "must be a name without /, + and #";
    case TextRule::IdOrEmpty:
      return "must be empty or a name without /, + and #";
    case TextRule::Token:
      return "must be empty or " + std::to_string(kHttpTokenMin) + " to " +
             std::to_string(kHttpTokenMax) + " visible characters without blanks";
    case TextRule::HostName:
      return "must list at most " + std::to_string(key.max) +
             " host names or addresses, separated by commas or blanks";
  }
  return {};
}

// A list's names: separated by commas or blanks.
std::vector<std::string> listedNames(const std::string& v) {
  std::vector<std::string> out;
  std::size_t from = 0;
  while (from < v.size()) {
    const std::size_t end = std::min(v.find_first_of(", \t", from), v.size());
    if (end > from) out.push_back(v.substr(from, end - from));
    from = end + 1;
  }
  return out;
}

}  // namespace

std::span<const SettingKey> netSettingKeys() {
  return kKeys;
}

const SettingKey* netSettingKey(std::string_view section, std::string_view key) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const SettingKey& k) {
    return k.section == section && k.key == key;
  });
  return it == std::end(kKeys) ? nullptr : &*it;
}

std::string settingText(const SettingKey& key, const NetSettings& s) {
  switch (key.kind) {
    case SettingKind::Boolean:
      return settingValue<bool>(key, s) ? "true" : "false";
    case SettingKind::Number:
    case SettingKind::Choice:
      return std::to_string(settingValue<int>(key, s));
    case SettingKind::Text:
      return settingValue<std::string>(key, s);
    case SettingKind::List:
      break;
  }
  std::string out;
  for (const std::string& n : settingValue<std::vector<std::string>>(key, s))
    out += (out.empty() ? "" : ", ") + n;
  return out;
}

bool readSetting(const SettingKey& key, const std::string& v, NetSettings* s, std::string* why) {
  *why = mustBe(key);
  switch (key.kind) {
    case SettingKind::Boolean:
      return parseBool(v, &settingValue<bool>(key, *s));
    case SettingKind::Number:
    case SettingKind::Choice:
      return parseInt(v, key.min, key.max, &settingValue<int>(key, *s));
    case SettingKind::Text:
      if (!follows(key.rule, v)) return false;
      settingValue<std::string>(key, *s) = v;
      return true;
    case SettingKind::List:
      break;
  }
  std::vector<std::string> listed = listedNames(v);
  if (listed.size() > static_cast<std::size_t>(key.max) ||
      !std::all_of(listed.begin(), listed.end(),
                   [&](const std::string& n) { return follows(key.rule, n); }))
    return false;
  settingValue<std::vector<std::string>>(key, *s) = std::move(listed);
  return true;
}

bool sameSetting(const SettingKey& key, const NetSettings& a, const NetSettings& b) {
  return std::visit(
      [&](auto at) { return at(const_cast<NetSettings&>(a)) == at(const_cast<NetSettings&>(b)); },
      key.at);
}

void copySetting(const SettingKey& key, const NetSettings& from, NetSettings* to) {
  std::visit([&](auto at) { at(*to) = at(const_cast<NetSettings&>(from)); }, key.at);
}

}  // namespace trv4

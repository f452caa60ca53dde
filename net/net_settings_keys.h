// The keys of TRV4NET.INI, each described once: its section, name, kind of value, range or rule,
// and whether it is a secret. The file's reader and writer and the Publishing dialog all work
// from this table. A key's default is the initializer of the field it names in NetSettings.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "net/net_settings.h"

namespace trv4 {

enum class SettingKind {
  Boolean,  // true or false
  Number,   // a whole number from min to max
  Choice,   // a whole number from min to max, one of a few
  Text,     // the text as written, without the blanks around it
  List,     // at most max names separated by commas or blanks; written separated by ", "
};

// What a text, or each name of a list, must be beyond its kind.
enum class TextRule {
  Any,
  NotEmpty,
  TopicLevel,  // an MQTT topic level: not empty, without the wildcards + and #
  IdLevel,     // one topic level: not empty, without /, + and #
  IdOrEmpty,   // empty, or as IdLevel
  Token,       // empty, or kHttpTokenMin to kHttpTokenMax visible ASCII characters
  HostName,    // a DNS name or an address, IPv6 with or without brackets
};

// Where a key's value lives in the settings.
template <typename T>
using SettingField = T& (*)(NetSettings&);
using SettingAt = std::variant<SettingField<bool>, SettingField<int>, SettingField<std::string>,
                               SettingField<std::vector<std::string>>>;

// The field Member of the group Group: fieldAt<&NetSettings::mqtt, &MqttSettings::host>.
template <auto Group, auto Member>
auto& fieldAt(NetSettings& s) {
  return (s.*Group).*Member;
}

struct SettingKey {
  const char* section;
  const char* key;
  SettingKind kind;
  SettingAt at;
  int min = 0;  // Number, Choice; List: max names at the most
  int max = 0;
  TextRule rule = TextRule::Any;  // Text, List
  bool secret = false;            // never in a message or a log; its file is the owner's alone
  const char* comment = "";       // written after the value
};

// Every key, in the file's order: by section, then as the file lists them.
std::span<const SettingKey> netSettingKeys();
// The key of section named so; null when there is none.
const SettingKey* netSettingKey(std::string_view section, std::string_view key);

// The value the settings hold for key, as it is of type T (bool, int, std::string or a list).
template <typename T>
T& settingValue(const SettingKey& key, NetSettings& s) {
  return std::get<SettingField<T>>(key.at)(s);
}
template <typename T>
const T& settingValue(const SettingKey& key, const NetSettings& s) {
  return std::get<SettingField<T>>(key.at)(const_cast<NetSettings&>(s));
}

// The value's text as the file holds it.
std::string settingText(const SettingKey& key, const NetSettings& settings);
// Takes text, a value as read from the file, into settings; false and *why (what the value must
// be, as "must be true or false") when key cannot hold it.
bool readSetting(const SettingKey& key, const std::string& text, NetSettings* settings,
                 std::string* why);
// Whether a and b hold the same value for key.
bool sameSetting(const SettingKey& key, const NetSettings& a, const NetSettings& b);
// Sets key in to to what from holds.
void copySetting(const SettingKey& key, const NetSettings& from, NetSettings* to);

}  // namespace trv4

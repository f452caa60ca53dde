// TRV4NET.INI: what a file turns on, and what it cannot use told once per key. The rules of each
// key are checked for every row of the key table, so a key is covered as soon as the table has it.
#include "net/net_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <utility>

#include "net/net_settings_keys.h"
#include "tests/support/file_text.h"

namespace trv4::test {
namespace {

// Every service on (keep_days set), then line in section: line 12 of the file.
NetSettings allOnThen(const std::string& section, const std::string& line) {
  return parseNetSettings(
      "[mqtt]\nenabled=true\n[sparkplug]\nenabled=true\n[modbus]\nenabled=true\n[http]\n"
      "enabled=true\n[captures]\nkeep_days=7\n[" +
      section + "]\n" + line + "\n");
}

const std::vector<std::string> kSections = {"mqtt", "sparkplug", "modbus", "http", "captures"};
std::vector<bool> running(const NetSettings& s) {
  return {s.mqtt.enabled, s.sparkplug.enabled, s.modbus.enabled, s.http.enabled,
          s.captures.keepDays != 0};
}

bool isNumber(const SettingKey& key) {
  return key.kind == SettingKind::Number || key.kind == SettingKind::Choice;
}

std::vector<std::string> refusedValues(const SettingKey& key) {
  if (key.kind == SettingKind::Boolean) return {"TRUE", "1", "", "true false"};
  if (isNumber(key))
    return {std::to_string(key.min - 1), std::to_string(key.max + 1), "1.0",
            "99999999999999999999"};
  std::string tooMany;
  for (int i = 0; i <= key.max; ++i) tooMany += "pc" + std::to_string(i) + " ";
  switch (key.rule) {
    case TextRule::Any:
      return {};
    case TextRule::NotEmpty:
      return {"", "   ", " ; nothing"};
    case TextRule::TopicLevel:
      return {"", "+", "plant/#"};
    case TextRule::IdLevel:
      return {"", "line/1", "+", "#"};
    case TextRule::IdOrEmpty:
      return {"line/1", "+", "#"};
    case TextRule::Token:
      return {"short-secret", "a secret with blanks", std::string(kHttpTokenMax + 1, 'x'),
              "geheimes\xc3\xa4-passwort"};
    case TextRule::HostName:
      return {"plant-pc/weights", std::string(kHttpHostNameMax + 1, 'h'), tooMany};
  }
  return {};
}

// A value of key other than its default, as the file holds it.
std::string otherValue(const SettingKey& key) {
  const NetSettings defaults;
  if (key.kind == SettingKind::Boolean) return settingValue<bool>(key, defaults) ? "false" : "true";
  if (isNumber(key))
    return std::to_string(settingValue<int>(key, defaults) == key.max ? key.min : key.max);
  if (key.rule == TextRule::Token) return std::string("0123456789abcdef-") + key.key;
  if (key.rule == TextRule::HostName) return "pc-1, [fe80::7]";
  return std::string("other-") + key.key;
}

TEST(NetSettingsTest, EachKeyTellsWhatItsValueMustBe) {
  std::vector<std::string> told;
  for (const SettingKey& key : netSettingKeys()) {
    NetSettings s;
    std::string why;
    readSetting(key, "", &s, &why);
    if (!why.empty()) told.push_back(std::string(key.section) + " " + key.key + ": " + why);
  }
  const std::string number = "must be a whole number from ", onOff = "must be true or false";
  EXPECT_EQ(told, (std::vector<std::string>{
                      "mqtt enabled: " + onOff,
                      "mqtt host: may not be empty",
                      "mqtt port: " + number + "1 to 65535",
                      "mqtt prefix: must be a topic level without the wildcards + and #",
                      "mqtt qos: " + number + "0 to 2",
                      "mqtt heartbeat_s: " + number + "1 to 3600",
                      "mqtt commands: " + onOff,
                      "sparkplug enabled: " + onOff,
                      "sparkplug group_id: must be a name without /, + and #",
                      "sparkplug edge_node_id: must be empty or a name without /, + and #",
                      "sparkplug primary_host_id: must be empty or a name without /, + and #",
                      "sparkplug commands: " + onOff,
                      "modbus enabled: " + onOff,
                      "modbus bind: may not be empty",
                      "modbus port: " + number + "1 to 65535",
                      "http enabled: " + onOff,
                      "http bind: may not be empty",
                      "http port: " + number + "1 to 65535",
                      "http hosts: must list at most 16 host names or addresses, separated by "
                      "commas or blanks",
                      "http token: must be empty or 16 to 256 visible characters without blanks",
                      "http commands: " + onOff,
                      "captures keep_days: " + number + "0 to 36500"}));
}

// A refused value turns its service off, told by line and key, never the value; others run on.
TEST(NetSettingsTest, AValueItsKeyRefusesTurnsOnlyItsServiceOff) {
  for (const SettingKey& key : netSettingKeys()) {
    std::vector<bool> expected(kSections.size(), true);
    expected.at(std::ranges::find(kSections, key.section) - kSections.begin()) = false;
    for (const std::string& value : refusedValues(key)) {
      const std::string line = std::string(key.key) + "=" + value;
      const NetSettings s = allOnThen(key.section, line);
      ASSERT_EQ(s.problems.size(), 1u) << line;
      const std::string& told = s.problems[0];
      EXPECT_TRUE(told.starts_with("TRV4NET.INI line 12: \"" + std::string(key.key) + "\" in [" +
                                   key.section + "] m") &&
                  told.ends_with(" stays off.") &&
                  (value.size() < 4 || told.find(value) == std::string::npos))
          << told;
      EXPECT_EQ(running(s), expected) << line;
    }
    if (isNumber(key)) {
      for (const int end : {key.min, key.max}) {
        const NetSettings s = allOnThen(key.section, key.key + ("=" + std::to_string(end)));
        EXPECT_TRUE(s.problems.empty()) << key.key << "=" << end;
        EXPECT_EQ(settingValue<int>(key, s), end) << key.key;
      }
    }
  }
}

TEST(NetSettingsTest, EveryKeyReadsItsValueAndIsWrittenSoItReadsBackTheSame) {
  const NetSettings defaults;
  std::string file;
  for (const SettingKey& key : netSettingKeys())
    file += "[" + std::string(key.section) + "]\n" + key.key + "=" + otherValue(key) + "\n";
  const NetSettings read = parseNetSettings(file);
  ASSERT_TRUE(read.problems.empty()) << read.problems.front();
  const NetSettings again = parseNetSettings(formatNetSettings(read));
  EXPECT_TRUE(again.problems.empty()) << again.problems.front();
  for (const SettingKey& key : netSettingKeys()) {
    EXPECT_EQ(std::tuple(settingText(key, read), sameSetting(key, read, defaults),
                         sameSetting(key, again, read)),
              std::tuple(otherValue(key), false, true))
        << key.section << " " << key.key;
  }
}

TEST(NetSettingsTest, MissingKeysKeepTheirDefaultsAndEveryServiceIsOff) {
  const std::string defaults =
      "[mqtt]\nenabled=false\nhost=127.0.0.1\nport=1883\nprefix=trv4\n"
      "client_id=            ; empty: trv4-<host name>\nusername=\n"
      "password=             ; the file is created with mode 0600 when a password is set\n"
      "ca_file=              ; set: TLS to the broker, verified against this CA\n"
      "qos=1\nheartbeat_s=10\ncommands=false\n"
      "[sparkplug]\nenabled=false\ngroup_id=trv4\nedge_node_id=         ; empty: the host name\n"
      "primary_host_id=      ; set: births wait until that host is online\ncommands=false\n"
      "[modbus]\nenabled=false\nbind=127.0.0.1\nport=1502\n"
      "[http]\nenabled=false\nbind=127.0.0.1\nport=8480\n"
      "hosts=                ; more names of this PC that requests may give, beside its "
      "addresses\n"
      "token=                ; set: writes need \"Authorization: Bearer <token>\"; the file is "
      "0600\ncommands=false\n"
      "[captures]\nkeep_days=0              ; 0: keep every capture; N: delivered ones older than "
      "N days go\n";
  EXPECT_EQ(formatNetSettings(NetSettings{}), defaults);
  for (const char* text : {"", "   \r\n; comment\n# another\n", "\xEF\xBB\xBF[mqtt]\n[modbus]\n"}) {
    const NetSettings s = parseNetSettings(text);
    EXPECT_TRUE(s.problems.empty()) << text;
    EXPECT_EQ(formatNetSettings(s), defaults) << text;
  }
  EXPECT_TRUE(readNetSettings("/nonexistent/TRV4NET.INI").problems.empty());
  const std::string folder = std::filesystem::temp_directory_path().string();
  EXPECT_EQ(readNetSettings(folder).problems,
            std::vector<std::string>{folder + " is not a file; publishing stays off."});
}

// Blanks and comments around a value, a ";" inside one, CR LF lines and a byte-order mark.
TEST(NetSettingsTest, AValueIsReadWithoutItsBlanksAndItsComment) {
  const NetSettings s = parseNetSettings(
      "\xEF\xBB\xBF[mqtt]\r\nenabled = true\t; on\r\nhost=a;b\npassword=se;cret\n"
      "prefix=Ζυγός/γραμμή 2\nusername= me \ncommands=false ;\nclient_id=   ; empty\n"
      "[http]\nhosts=Plant-PC.example.com, weigh-7\t[::1]   ; the PC's names\n"
      "token=k3y-0f_th3.pl4nt~IT+/=   ; comment\n");
  EXPECT_TRUE(s.problems.empty()) << s.problems.front();
  EXPECT_EQ(std::tuple(s.mqtt.enabled, s.mqtt.host, s.mqtt.password, s.mqtt.prefix, s.mqtt.username,
                       s.mqtt.commands, s.mqtt.clientId, s.http.token),
            std::tuple(true, "a;b", "se;cret", "Ζυγός/γραμμή 2", "me", false, "",
                       "k3y-0f_th3.pl4nt~IT+/="));
  EXPECT_EQ(s.http.hosts, (std::vector<std::string>{"Plant-PC.example.com", "weigh-7", "[::1]"}));
}

// Lines the program cannot place are told, each once, and repeat nothing of the file beyond a
// key it knows: such a line may be a token or a password that wrapped onto a line of its own.
TEST(NetSettingsTest, StrayLinesAreToldWithoutRepeatingThem) {
  const std::string secret = "Zq8vW2xK9pL4mN7r";
  const std::pair<std::string, const char*> files[] = {
      {"[http]\nenabled=true\ntoken=0123456789abcdef\n" + secret + "==\n",
       "TRV4NET.INI line 4: [http] has no such key (its keys: bind, commands, enabled, hosts, "
       "port, token); the HTTP server stays off."},
      {"[mqtt]\nenabled=true\npassword=\n" + secret + "\n",
       "TRV4NET.INI line 4 in [mqtt] has no \"=\"; MQTT publishing stays off."},
      {"[" + secret + "]\nenabled=true\n",
       "TRV4NET.INI line 1: the section is none of [mqtt], [sparkplug], [modbus], [http] and "
       "[captures]; it is left out."},
      {"enabled=true\n[mqtt]\n",
       "TRV4NET.INI line 1: \"enabled\" is in no section ([mqtt], [sparkplug], [modbus], [http] or "
       "[captures]); it is left "
       "out."},
      {secret + "=x\n[mqtt]\n", "TRV4NET.INI line 1 is in no section"},
  };
  for (const auto& [text, told] : files) {
    const NetSettings s = parseNetSettings(text);
    ASSERT_EQ(s.problems.size(), 1u) << text;
    EXPECT_TRUE(s.problems[0].starts_with(told)) << s.problems[0];
    EXPECT_EQ(s.problems[0].find(secret.substr(0, 6)), std::string::npos) << s.problems[0];
    EXPECT_EQ(running(s), std::vector<bool>(kSections.size(), false)) << text;
  }
}

// Asked before a write: would the file's reader refuse the value, or read back another one?
TEST(NetSettingsTest, AValueIsCheckedAsTheFileWouldReadItBack) {
  using Row = std::tuple<const char*, const char*, bool, bool>;  // key, value, refused, changed
  for (const auto& [name, value, refused, changed] :
       {Row("password", "se;cret", false, false), Row("host", "", true, false),
        Row("host", " broker", false, true), Row("password", "top ;secret", false, true),
        Row("username", "a\nb", false, true)}) {
    const SettingKey& key = *netSettingKey("mqtt", name);
    NetSettings s;
    settingValue<std::string>(key, s) = value;
    const WrittenSetting w = checkWritten(key, s);
    EXPECT_EQ(std::tuple(w.refused, w.changed, w.why.empty()),
              std::tuple(refused, changed, !refused))
        << name << "=" << value << ": " << w.why;
  }
}

// Windows keeps no such mode bits: there the check is left out.
void expectOwnerOnly(const std::string& path) {
#ifndef _WIN32
  EXPECT_EQ(static_cast<int>(std::filesystem::status(path).permissions()), 0600) << path;
#endif
}

// A write is whole or not at all, and a file with a password or a token is its owner's alone.
TEST(NetSettingsTest, WritesWhatItReadsBackKeepsTheOldOnFailureAndGuardsSecrets) {
  const ScratchFolder scratch("trv4-net-settings-write-");
  const std::string path = scratch.file(kNetSettingsFileName);
  std::string error;
  ASSERT_TRUE(writeNetSettings(path, NetSettings{}, &error)) << error;
  std::filesystem::permissions(path, std::filesystem::perms(0644));  // as another tool left it
  NetSettings s;
  s.mqtt = {true,       "broker.plant", 8883, "line7/a", "me", "user x",
            "se;cr et", "/etc/ca.pem",  2,    30,        true};
  ASSERT_TRUE(writeNetSettings(path, s, &error)) << error;
  expectOwnerOnly(path);  // tightened: the file now holds a password
  EXPECT_EQ(fileText(path), formatNetSettings(s));

  NetSettings token;
  token.http.token = "0123456789abcdef-plant";
  const std::string tokenPath = scratch.file("token.ini");
  ASSERT_TRUE(writeNetSettings(tokenPath, token, &error)) << error;
  expectOwnerOnly(tokenPath);

  // A write that cannot finish leaves the old file and says which file, not the password.
  std::filesystem::create_directory(scratch.folder / "TRV4NET.INI.tmp");
  NetSettings other = s;
  other.mqtt.host = "elsewhere";
  EXPECT_FALSE(writeNetSettings(path, other, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(error.find("se;cr et"), std::string::npos);
  EXPECT_EQ(fileText(path), formatNetSettings(s));
}

}  // namespace
}  // namespace trv4::test

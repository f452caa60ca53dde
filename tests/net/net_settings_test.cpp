// TRV4NET.INI: what a file turns on, and what it cannot use told once per key.
#include "net/net_settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <tuple>
#include <utility>

#include "base/file_names.h"
#include "net/net_settings_keys.h"
#include "tests/support/file_text.h"

namespace trv4::test {
namespace {

TEST(NetSettingsTest, ReadsBothServicesAndKeepsAServiceOffForAnyValueItCannotUse) {
  const NetSettings good = parseNetSettings(
      "[mqtt]\nenabled=true\nhost=broker.plant\nport=8883\nprefix=line7\n"
      "client_id=            ; empty: trv4-<host name>\npassword=se;cret\nqos=2\n"
      "heartbeat_s=30\ncommands=false\n[modbus]\r\nenabled=true\r\nbind=0.0.0.0\r\nport=502\r\n");
  EXPECT_TRUE(good.problems.empty()) << good.problems.front();
  EXPECT_TRUE(good.mqtt.enabled);
  EXPECT_EQ(good.mqtt.host, "broker.plant");
  EXPECT_EQ(good.mqtt.port, 8883);
  EXPECT_EQ(good.mqtt.clientId, "");
  EXPECT_EQ(good.mqtt.password, "se;cret");  // a ";" is a comment only after a blank
  EXPECT_EQ(good.mqtt.qos, 2);
  EXPECT_TRUE(good.modbus.enabled);
  EXPECT_EQ(good.modbus.port, 502);

  const std::pair<const char*, const char*> bad[] = {
      {"[mqtt]\nenabled=true\nport=70000\n", "\"port\" in [mqtt] must be a whole number"},
      {"[mqtt]\nenabled=true\nprefix=plant/#\n", "wildcards"},
      {"[mqtt]\nenabled=true\nqos=3\n", "\"qos\""},
      {"[mqtt]\nenabled=yes\n", "must be true or false"},
      {"[mqtt]\nenabled=true\ncolour=red\n", "line 3: [mqtt] has no such key (its keys: ca_file,"},
      {"[mqtt]\nenabled=true\nhost\n", "has no \"=\""},
      {"[mqtt]\nenabled=true\npassword=x\nhost=\n", "\"host\" in [mqtt] may not be empty"},
  };
  for (const auto& [text, expected] : bad) {
    const NetSettings s = parseNetSettings(std::string(text) + "[modbus]\nenabled=true\n");
    ASSERT_EQ(s.problems.size(), 1u) << text;
    EXPECT_NE(s.problems[0].find(expected), std::string::npos) << s.problems[0];
    EXPECT_NE(s.problems[0].find("MQTT publishing stays off"), std::string::npos);
    EXPECT_FALSE(s.mqtt.enabled) << text;
    EXPECT_TRUE(s.modbus.enabled) << text;  // the other service is not touched
  }
  // An empty bind is no default: the Modbus server says so and stays off.
  const NetSettings unbound = parseNetSettings("[modbus]\nenabled=true\nbind=\n");
  ASSERT_EQ(unbound.problems.size(), 1u);
  EXPECT_NE(unbound.problems[0].find("\"bind\" in [modbus] may not be empty; the Modbus server "
                                     "stays off."),
            std::string::npos)
      << unbound.problems[0];
  EXPECT_FALSE(unbound.modbus.enabled);

  // The password is never repeated, even when its line is wrong.
  const NetSettings secret = parseNetSettings("[mqtt]\nport=topsecret\npasword=topsecret\n");
  for (const std::string& p : secret.problems) EXPECT_EQ(p.find("topsecret"), std::string::npos);

  EXPECT_TRUE(readNetSettings("/nonexistent/TRV4NET.INI").problems.empty());
  const NetSettings folder = readNetSettings(std::filesystem::temp_directory_path().string());
  ASSERT_EQ(folder.problems.size(), 1u);
  EXPECT_NE(folder.problems[0].find("is not a file"), std::string::npos);
  EXPECT_FALSE(folder.mqtt.enabled || folder.modbus.enabled);
}

// What a plant's hand-edited file gets wrong: each value a service cannot use turns that service
// off with one sentence naming the line and key; the other service runs on.
TEST(NetSettingsTest, RefusesNumbersOutOfRangeAndAnyBooleanButTrueOrFalse) {
  const std::pair<const char*, const char*> refused[] = {
      {"port", "0"},          {"port", "65536"},
      {"port", "-1"},         {"port", "+1883"},
      {"port", "18 83"},      {"port", "0x50"},
      {"port", "1e3"},        {"port", ""},
      {"port", "1883.0"},     {"port", "99999999999999999999"},
      {"qos", "-1"},          {"qos", "3"},
      {"heartbeat_s", "0"},   {"heartbeat_s", "3601"},
      {"enabled", "TRUE"},    {"enabled", "True"},
      {"enabled", "1"},       {"enabled", "yes"},
      {"enabled", ""},        {"enabled", "true false"},
      {"enabled", "true;x"},  {"commands", "on"},
      {"prefix", "+"},        {"prefix", "a/#"},
      {"prefix", ""},         {"host", "   "},
      {"host", " ; nothing"},
  };
  for (const auto& [key, value] : refused) {
    const std::string line = std::string(key) + "=" + value;
    const NetSettings s =
        parseNetSettings("[mqtt]\r\nenabled=true\r\n" + line + "\r\n[modbus]\r\nenabled=true\r\n");
    ASSERT_EQ(s.problems.size(), 1u) << line;
    EXPECT_EQ(s.problems[0].rfind("TRV4NET.INI line 3: \"" + std::string(key) + "\" in [mqtt] ", 0),
              0u)
        << s.problems[0];
    EXPECT_FALSE(s.mqtt.enabled) << line;
    EXPECT_TRUE(s.modbus.enabled) << line;
  }
  for (const char* value : {"0", "65536", "-5", "x"}) {
    const NetSettings s = parseNetSettings(std::string("[modbus]\nenabled=true\nport=") + value);
    ASSERT_EQ(s.problems.size(), 1u) << value;
    EXPECT_NE(s.problems[0].find("\"port\" in [modbus] must be a whole number from 1 to 65535"),
              std::string::npos);
    EXPECT_FALSE(s.modbus.enabled) << value;
  }

  // The ends of each range, blanks and comments around a value, a ";" inside one.
  const NetSettings edges = parseNetSettings(
      "[mqtt]\nenabled = true\t; on\nport=65535\nqos=0\nheartbeat_s=3600\nhost=a;b\n"
      "prefix=Ζυγός/γραμμή 2\nusername= me \ncommands=false ;\n[modbus]\nport=1\n");
  EXPECT_TRUE(edges.problems.empty()) << edges.problems.front();
  EXPECT_EQ(std::tuple(edges.mqtt.enabled, edges.mqtt.port, edges.mqtt.qos, edges.mqtt.heartbeatS,
                       edges.mqtt.host, edges.mqtt.prefix, edges.mqtt.username, edges.modbus.port),
            std::tuple(true, 65535, 0, 3600, "a;b", "Ζυγός/γραμμή 2", "me", 1));
  const NetSettings low = parseNetSettings("[mqtt]\nport=1\nheartbeat_s=1\nqos=2\n");
  EXPECT_EQ(std::tuple(low.mqtt.port, low.mqtt.heartbeatS, low.mqtt.qos), std::tuple(1, 1, 2));
}

TEST(NetSettingsTest, MissingKeysKeepTheirDefaultsAndStrayLinesAreTold) {
  // Keys left out keep the defaults; an empty or blank file is no file.
  const NetSettings defaults;
  for (const char* text : {"", "\n\n", "   \r\n", "; comment\n# another\n", "[mqtt]\n[modbus]\n"}) {
    const NetSettings s = parseNetSettings(text);
    EXPECT_TRUE(s.problems.empty()) << text;
    EXPECT_EQ(formatNetSettings(s), formatNetSettings(defaults)) << text;
  }
  const NetSettings on = parseNetSettings("[mqtt]\nenabled=true\n[modbus]\nenabled=true\n");
  EXPECT_TRUE(on.problems.empty());
  EXPECT_EQ(std::tuple(on.mqtt.host, on.mqtt.port, on.mqtt.prefix, on.mqtt.qos, on.mqtt.heartbeatS,
                       on.mqtt.commands, on.modbus.bind, on.modbus.port),
            std::tuple("127.0.0.1", 1883, "trv4", 1, 10, false, "127.0.0.1", 1502));

  // A file saved with a byte-order mark reads as without one.
  const NetSettings marked = parseNetSettings("\xEF\xBB\xBF[mqtt]\r\nenabled=true\r\n");
  EXPECT_TRUE(marked.problems.empty()) << marked.problems.front();
  EXPECT_TRUE(marked.mqtt.enabled);

  // Lines the program cannot place are told, each once, and change nothing.
  const std::pair<const char*, const char*> stray[] = {
      {"enabled=true\n[mqtt]\n", "line 1: \"enabled\" is in no section"},
      {"[web]\nenabled=true\n", "line 1: the section is none of [mqtt], [modbus] and [http]"},
      {"[ mqtt ]\nenabled=true\n", "line 1: the section is none of"},
      {"[mqtt\nenabled=true\n", "line 1: the section is none of"},
  };
  for (const auto& [text, told] : stray) {
    const NetSettings s = parseNetSettings(text);
    ASSERT_EQ(s.problems.size(), 1u) << text;
    EXPECT_NE(s.problems[0].find(told), std::string::npos) << s.problems[0];
    EXPECT_FALSE(s.mqtt.enabled || s.modbus.enabled) << text;
  }
  // Keys are spelled as the file shows them.
  for (const char* text : {"[mqtt]\nPort=1883\n", "[mqtt]\n=1883\n", "[mqtt]\nport 1883\n"}) {
    const NetSettings s = parseNetSettings(text);
    EXPECT_EQ(s.problems.size(), 1u) << text;
  }
}

// A value of key other than its default, as the file holds it, made from the key's row alone: a
// key is covered as soon as the table has it.
std::string otherValue(const SettingKey& key) {
  const NetSettings defaults;
  switch (key.kind) {
    case SettingKind::Boolean:
      return settingValue<bool>(key, defaults) ? "false" : "true";
    case SettingKind::Number:
    case SettingKind::Choice:
      return std::to_string(settingValue<int>(key, defaults) == key.max ? key.min : key.max);
    case SettingKind::Text:
    case SettingKind::List:
      break;
  }
  switch (key.rule) {
    case TextRule::Any:
    case TextRule::NotEmpty:
    case TextRule::TopicLevel:
      return std::string("other-") + key.key;
    case TextRule::Token:
      return std::string("0123456789abcdef-") + key.key;
    case TextRule::HostName:
      return key.kind == SettingKind::List ? "pc-1, [fe80::7]" : "pc-1";
  }
  return {};
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
    const std::string named = std::string(key.section) + " " + key.key;
    EXPECT_EQ(settingText(key, read), otherValue(key)) << named;
    EXPECT_FALSE(sameSetting(key, read, defaults)) << named;
    EXPECT_TRUE(sameSetting(key, again, read)) << named;
  }
}

#ifndef _WIN32
unsigned modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mode & 0777;
}
#endif

NetSettings withPassword() {
  NetSettings s;
  s.mqtt = {true,       "broker.plant", 8883, "line7/a", "me", "user x",
            "se;cr et", "/etc/ca.pem",  2,    30,        true};
  s.modbus = {true, "0.0.0.0", 502};
  return s;
}

TEST(NetSettingsTest, WritesWhatItReadsBackAndKeepsTheOldOnFailure) {
  const ScratchFolder scratch("trv4-net-settings-write-");
  const std::string path = scratch.file(kNetSettingsFileName);

  NetSettings s;
  std::string error;
  ASSERT_TRUE(writeNetSettings(path, s, &error)) << error;
  EXPECT_EQ(fileText(path), formatNetSettings(s));
  EXPECT_NE(fileText(path).find("[mqtt]\nenabled=false\nhost=127.0.0.1\nport=1883\n"),
            std::string::npos);
  EXPECT_NE(fileText(path).find("[modbus]\nenabled=false\nbind=127.0.0.1\nport=1502\n"),
            std::string::npos);

  s = withPassword();
  ASSERT_TRUE(writeNetSettings(path, s, &error)) << error;
  const NetSettings back = readNetSettings(path);
  EXPECT_TRUE(back.problems.empty()) << back.problems.front();
  EXPECT_EQ(formatNetSettings(back), formatNetSettings(s));
  EXPECT_EQ(back.mqtt.password, "se;cr et");
  EXPECT_EQ(back.mqtt.clientId, "me");
  EXPECT_EQ(back.mqtt.caFile, "/etc/ca.pem");
  EXPECT_TRUE(back.mqtt.commands);

  // A write that cannot finish leaves the old file and says which file, not the password.
  std::filesystem::create_directory(scratch.folder / "TRV4NET.INI.tmp");
  NetSettings other = s;
  other.mqtt.host = "elsewhere";
  EXPECT_FALSE(writeNetSettings(path, other, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(error.find("se;cr et"), std::string::npos);
  EXPECT_EQ(fileText(path), formatNetSettings(s));
}

TEST(NetSettingsTest, PasswordFilesAreForTheOwnerOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have no permission bits for the owner alone";
#else
  const ScratchFolder scratch("trv4-net-settings-mode-");
  const std::string path = scratch.file(kNetSettingsFileName);
  std::string error;
  ASSERT_TRUE(writeNetSettings(path, NetSettings{}, &error)) << error;
  EXPECT_EQ(modeOf(path) & 0600, 0600u);
  chmod(path.c_str(), 0644);
  ASSERT_TRUE(writeNetSettings(path, withPassword(), &error)) << error;
  EXPECT_EQ(modeOf(path), 0600u);  // tightened: the file now holds a password
#endif
}

// [http]: off unless enabled; the token is kept like the password: never repeated, and the file
// that holds it is the owner's alone.
TEST(NetSettingsTest, HttpIsOffByDefaultAndItsTokenIsKeptLikeThePassword) {
  const NetSettings none = parseNetSettings("");
  EXPECT_FALSE(none.http.enabled);
  EXPECT_EQ(none.http.bind, "127.0.0.1");
  EXPECT_EQ(none.http.port, kHttpDefaultPort);
  EXPECT_EQ(none.http.token, "");
  EXPECT_FALSE(none.http.commands);

  const std::string token = "k3y-0f_th3.pl4nt~IT+/=";
  const NetSettings on =
      parseNetSettings("[http]\nenabled=true\nbind=::1\nport=8081\ntoken=" + token +
                       "   ; comment\ncommands=true\n");
  EXPECT_TRUE(on.problems.empty()) << on.problems.front();
  EXPECT_TRUE(on.http.enabled);
  EXPECT_EQ(on.http.bind, "::1");
  EXPECT_EQ(on.http.port, 8081);
  EXPECT_EQ(on.http.token, token);
  EXPECT_TRUE(on.http.commands);

  const std::pair<std::string, const char*> bad[] = {
      {"token=short-secret", "\"token\" in [http] must be empty or 16 to 256 visible"},
      {"token=a secret with blanks", "\"token\" in [http]"},
      {"token=" + std::string(257, 'x'), "\"token\" in [http]"},
      {"token=geheimes\xc3\xa4-passwort", "\"token\" in [http]"},
      {"bind=", "\"bind\" in [http] may not be empty"},
      {"port=0", "\"port\" in [http] must be a whole number"},
      {"commands=on", "\"commands\" in [http] must be true or false"},
      {"tokn=x", "[http] has no such key (its keys: bind, commands, enabled, hosts, port, token)"},
      {"hosts=plant-pc/weights", "\"hosts\" in [http] must list at most 16 host names"},
      {"hosts=" + std::string(254, 'h'), "\"hosts\" in [http]"},
  };
  for (const auto& [line, expected] : bad) {
    const NetSettings s = parseNetSettings("[modbus]\nenabled=true\n[http]\nenabled=true\n" + line +
                                           "\n[mqtt]\nenabled=true\n");
    ASSERT_EQ(s.problems.size(), 1u) << line;
    EXPECT_NE(s.problems[0].find(expected), std::string::npos) << s.problems[0];
    EXPECT_NE(s.problems[0].find("the HTTP server stays off"), std::string::npos);
    const std::string value = line.substr(line.find('=') + 1);
    if (!value.empty()) {
      EXPECT_EQ(s.problems[0].find(value), std::string::npos) << s.problems[0];
    }
    EXPECT_FALSE(s.http.enabled) << line;
    EXPECT_TRUE(s.mqtt.enabled && s.modbus.enabled) << line;  // the others run on
  }

  // hosts=: names for the PC beside its addresses, separated by commas or blanks, at most 16.
  const NetSettings named =
      parseNetSettings("[http]\nhosts=Plant-PC.example.com, weigh-7\t[::1]   ; the PC's names\n");
  EXPECT_TRUE(named.problems.empty()) << named.problems.front();
  EXPECT_EQ(named.http.hosts,
            (std::vector<std::string>{"Plant-PC.example.com", "weigh-7", "[::1]"}));
  std::string sixteen, seventeen;
  for (int i = 0; i < 16; ++i) sixteen += "pc" + std::to_string(i) + " ";
  seventeen = sixteen + "one-more";
  EXPECT_EQ(parseNetSettings("[http]\nhosts=" + sixteen + "\n").http.hosts.size(), 16u);
  EXPECT_EQ(parseNetSettings("[http]\nhosts=" + seventeen + "\n").problems.size(), 1u);

#ifndef _WIN32
  const ScratchFolder scratch("trv4-net-settings-http-");
  const std::string path = scratch.file(kNetSettingsFileName);
  NetSettings s;
  s.http = {true, "plant-it.local", 9000, token, true, {"plant-pc.example.com", "[fe80::7]"}};
  std::string error;
  ASSERT_TRUE(writeNetSettings(path, s, &error)) << error;
  EXPECT_EQ(modeOf(path), 0600u);  // a token and no password
  EXPECT_EQ(formatNetSettings(readNetSettings(path)), formatNetSettings(s));
  EXPECT_NE(fileText(path).find("[http]\nenabled=true\nbind=plant-it.local\nport=9000\n"
                                "hosts=plant-pc.example.com, [fe80::7] "),
            std::string::npos);
#endif
}

// [captures] keep_days: off unless set; a value out of range is told and removes nothing, and the
// other services run on. What the Publishing dialog writes keeps it.
TEST(NetSettingsTest, KeepDaysForCapturesIsReadToldWhenWrongAndWrittenBack) {
  EXPECT_EQ(parseNetSettings("").captures.keepDays, 0);
  EXPECT_EQ(parseNetSettings("[captures]\nkeep_days=90\n").captures.keepDays, 90);
  for (const char* value : {"-1", "36501", "ninety", ""}) {
    const NetSettings s =
        parseNetSettings(std::string("[mqtt]\nenabled=true\n[captures]\nkeep_days=") + value);
    ASSERT_EQ(s.problems.size(), 1u) << value;
    EXPECT_NE(s.problems[0].find("\"keep_days\" in [captures] must be a whole number from 0 to "
                                 "36500"),
              std::string::npos)
        << s.problems[0];
    EXPECT_EQ(s.captures.keepDays, 0) << value;
    EXPECT_TRUE(s.mqtt.enabled) << value;
  }
  NetSettings s;
  s.captures.keepDays = 365;
  EXPECT_EQ(parseNetSettings(formatNetSettings(s)).captures.keepDays, 365);
}

// A problem message names the line and at most a key the program knows: a line may be part of
// a token or a password that wrapped onto a line of its own, or was typed where a key belongs.
TEST(NetSettingsTest, ProblemsNeverRepeatTheFileBeyondAKnownKey) {
  const std::string secret = "Zq8vW2xK9pL4mN7r";
  const std::pair<std::string, const char*> files[] = {
      {"[http]\ntoken=0123456789abcdef\n" + secret + "==\n", "line 3: [http] has no such key"},
      {"[http]\ntoken=0123456789abcdef\n" + secret + "\n", "line 3 in [http] has no \"=\""},
      {"[mqtt]\n" + secret + "=password\n", "line 2: [mqtt] has no such key"},
      {"[" + secret + "]\nenabled=true\n", "line 1: the section is none of"},
      {secret + "=x\n[mqtt]\n", "line 1 is in no section"},
      {"[mqtt]\npassword=\n" + secret + "\n", "line 3 in [mqtt] has no \"=\""},
      {"[modbus]\nport=" + secret + "\n", "line 2: \"port\" in [modbus] must be"},
  };
  for (const auto& [text, told] : files) {
    const NetSettings s = parseNetSettings(text);
    ASSERT_EQ(s.problems.size(), 1u) << text;
    EXPECT_NE(s.problems[0].find(told), std::string::npos) << s.problems[0];
    EXPECT_EQ(s.problems[0].find(secret.substr(0, 6)), std::string::npos) << s.problems[0];
  }
}

}  // namespace
}  // namespace trv4::test

#include "net/net_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <system_error>

#include "base/blank_trim.h"
#include "base/file_names.h"
#include "base/file_sync.h"
#include "base/whole_file.h"

namespace trv4 {

namespace {

// Larger files are refused unread: the whole file is a few hundred bytes.
constexpr std::size_t kFileLimit = 64 * 1024;

// A value's text without its comment: from a ";" that follows a blank.
std::string valueOf(std::string_view raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == ';' && (i == 0 || raw[i - 1] == ' ' || raw[i - 1] == '\t'))
      return trimBlanks(raw.substr(0, i));
  }
  return trimBlanks(raw);
}

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

// A key's reader: false when the value cannot be used, *why saying what it must be.
using Reader = std::function<bool(const std::string&, std::string* why)>;

std::map<std::string, Reader> mqttKeys(MqttSettings& m) {
  auto boolean = [](bool* field) {
    return [field](const std::string& v, std::string* why) {
      *why = "must be true or false";
      return parseBool(v, field);
    };
  };
  auto number = [](int* field, int lo, int hi) {
    return [=](const std::string& v, std::string* why) {
      *why = "must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
      return parseInt(v, lo, hi, field);
    };
  };
  auto text = [](std::string* field, bool mayBeEmpty) {
    return [=](const std::string& v, std::string* why) {
      *why = "may not be empty";
      if (v.empty() && !mayBeEmpty) return false;
      *field = v;
      return true;
    };
  };
  return {
      {"enabled", boolean(&m.enabled)},
      {"host", text(&m.host, false)},
      {"port", number(&m.port, 1, 65535)},
      {"prefix",
       [&m](const std::string& v, std::string* why) {
         *why = "must be a topic level without the wildcards + and #";
         if (v.empty() || v.find_first_of("+#") != std::string::npos) return false;
         m.prefix = v;
         return true;
       }},
      {"client_id", text(&m.clientId, true)},
      {"username", text(&m.username, true)},
      {"password", text(&m.password, true)},
      {"ca_file", text(&m.caFile, true)},
      {"qos", number(&m.qos, 0, 2)},
      {"heartbeat_s", number(&m.heartbeatS, 1, 3600)},
      {"commands", boolean(&m.commands)},
  };
}

// enabled, bind and port of a server that listens (Modbus, HTTP).
std::map<std::string, Reader> serverKeys(bool* enabled, std::string* bind, int* port) {
  return {
      {"enabled",
       [=](const std::string& v, std::string* why) {
         *why = "must be true or false";
         return parseBool(v, enabled);
       }},
      {"bind",
       [=](const std::string& v, std::string* why) {
         *why = "may not be empty";
         if (v.empty()) return false;
         *bind = v;
         return true;
       }},
      {"port",
       [=](const std::string& v, std::string* why) {
         *why = "must be a whole number from 1 to 65535";
         return parseInt(v, 1, 65535, port);
       }},
  };
}

std::map<std::string, Reader> modbusKeys(ModbusSettings& m) {
  return serverKeys(&m.enabled, &m.bind, &m.port);
}

// A token goes in an HTTP header as it is written: visible ASCII, no blanks, long enough not to
// be guessed.
bool tokenText(const std::string& v) {
  if (v.empty()) return true;
  if (v.size() < kHttpTokenMin || v.size() > kHttpTokenMax) return false;
  for (const char c : v) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u > '~') return false;
  }
  return true;
}

// hosts=: names separated by commas or blanks; a name is a DNS name or an address (IPv6 with
// or without brackets).
bool hostNames(const std::string& v, std::vector<std::string>* out) {
  std::vector<std::string> names;
  std::size_t from = 0;
  while (from < v.size()) {
    const std::size_t end = std::min(v.find_first_of(", \t", from), v.size());
    if (end > from) {
      const std::string name = v.substr(from, end - from);
      if (name.size() > kHttpHostNameMax || names.size() == kHttpHostsMax) return false;
      for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '.' && c != ':' && c != '[' && c != ']')
          return false;
      }
      names.push_back(name);
    }
    from = end + 1;
  }
  *out = std::move(names);
  return true;
}

std::map<std::string, Reader> httpKeys(HttpSettings& h) {
  auto keys = serverKeys(&h.enabled, &h.bind, &h.port);
  keys["token"] = [&h](const std::string& v, std::string* why) {
    *why = "must be empty or " + std::to_string(kHttpTokenMin) + " to " +
           std::to_string(kHttpTokenMax) + " visible characters without blanks";
    if (!tokenText(v)) return false;
    h.token = v;
    return true;
  };
  keys["commands"] = [&h](const std::string& v, std::string* why) {
    *why = "must be true or false";
    return parseBool(v, &h.commands);
  };
  keys["hosts"] = [&h](const std::string& v, std::string* why) {
    *why = "must list at most " + std::to_string(kHttpHostsMax) +
           " host names or addresses, separated by commas or blanks";
    return hostNames(v, &h.hosts);
  };
  return keys;
}

std::map<std::string, Reader> captureKeys(CaptureSettings& c) {
  return {{"keep_days", [&c](const std::string& v, std::string* why) {
             *why = "must be a whole number from 0 to " + std::to_string(kCaptureKeepDaysMax);
             return parseInt(v, 0, kCaptureKeepDaysMax, &c.keepDays);
           }}};
}

}  // namespace

NetSettings parseNetSettings(std::string_view text) {
  NetSettings s;
  MqttSettings mqtt;
  ModbusSettings modbus;
  HttpSettings http;
  CaptureSettings captures;
  struct Section {
    std::map<std::string, Reader> keys;
    const char* service;
    bool bad = false;
  };
  std::map<std::string, Section> sections;
  sections["mqtt"] = {mqttKeys(mqtt), "MQTT publishing"};
  sections["modbus"] = {modbusKeys(modbus), "the Modbus server"};
  sections["http"] = {httpKeys(http), "the HTTP server"};
  sections["captures"] = {captureKeys(captures), "removing old captures"};
  std::string name;
  int number = 0;
  // Editors that save UTF-8 may put a byte-order mark in front of the first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = trimBlanks(text.substr(from, end - from));
    from = end + 1;
    ++number;
    const std::string where = "TRV4NET.INI line " + std::to_string(number);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    // What a message repeats of the file is a key name the program knows, never more: a line
    // may be part of a password or a token that wrapped.
    if (line.front() == '[') {
      name = line.back() == ']' ? line.substr(1, line.size() - 2) : line;
      if (!sections.contains(name))
        s.problems.push_back(
            where + ": the section is none of [mqtt], [modbus] and [http]; it is left out.");
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string key = trimBlanks(std::string_view(line).substr(0, eq));
    if (name.empty()) {
      // Nothing says which service it is for.
      const bool known = eq != std::string::npos &&
                         std::any_of(sections.begin(), sections.end(),
                                     [&](const auto& it) { return it.second.keys.contains(key); });
      s.problems.push_back(where + (known ? ": \"" + key + "\"" : "") +
                           " is in no section ([mqtt], [modbus] or [http]); it is left out.");
      continue;
    }
    const auto section = sections.find(name);
    if (section == sections.end()) continue;
    const std::string service = section->second.service;
    bool& bad = section->second.bad;
    if (eq == std::string::npos) {
      s.problems.push_back(where + " in [" + name + "] has no \"=\"; " + service + " stays off.");
      bad = true;
      continue;
    }
    const auto reader = section->second.keys.find(key);
    if (reader == section->second.keys.end()) {
      std::string known;
      for (const auto& [k, r] : section->second.keys) known += (known.empty() ? "" : ", ") + k;
      s.problems.push_back(where + ": [" + name + "] has no such key (its keys: " + known + "); " +
                           service + " stays off.");
      bad = true;
      continue;
    }
    std::string why;
    if (!reader->second(valueOf(std::string_view(line).substr(eq + 1)), &why)) {
      // The value itself is not repeated: it may be a password or a token.
      s.problems.push_back(where + ": \"" + key + "\" in [" + name + "] " + why + "; " + service +
                           " stays off.");
      bad = true;
    }
  }
  if (sections["mqtt"].bad) mqtt.enabled = false;
  if (sections["modbus"].bad) modbus.enabled = false;
  if (sections["http"].bad) http.enabled = false;
  if (sections["captures"].bad) captures.keepDays = 0;
  s.mqtt = mqtt;
  s.modbus = modbus;
  s.http = http;
  s.captures = captures;
  return s;
}

NetSettings readNetSettings(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path file = filePath(path);
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  if (ec || !fs::exists(st)) return {};
  NetSettings off;
  if (!fs::is_regular_file(st)) {
    off.problems.push_back(path + " is not a file; publishing stays off.");
    return off;
  }
  const std::uintmax_t size = fs::file_size(file, ec);
  if (!ec && size > kFileLimit) {
    off.problems.push_back(path + " is too large to be a settings file; publishing stays off.");
    return off;
  }
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    off.problems.push_back("Can not read " + path + "; publishing stays off.");
    return off;
  }
  return parseNetSettings(text);
}

}  // namespace trv4

namespace trv4 {

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

std::string formatNetSettings(const NetSettings& s) {
  const auto flag = [](bool b) { return b ? "true" : "false"; };
  const MqttSettings& m = s.mqtt;
  std::ostringstream out;
  out << "[mqtt]\n"
      << "enabled=" << flag(m.enabled) << "\n"
      << "host=" << m.host << "\n"
      << "port=" << m.port << "\n"
      << "prefix=" << m.prefix << "\n"
      << "client_id=" << m.clientId << "            ; empty: trv4-<host name>\n"
      << "username=" << m.username << "\n"
      << "password=" << m.password
      << "             ; the file is created with mode 0600 when a password is set\n"
      << "ca_file=" << m.caFile
      << "              ; set: TLS to the broker, verified against this CA\n"
      << "qos=" << m.qos << "\n"
      << "heartbeat_s=" << m.heartbeatS << "\n"
      << "commands=" << flag(m.commands) << "\n"
      << "[modbus]\n"
      << "enabled=" << flag(s.modbus.enabled) << "\n"
      << "bind=" << s.modbus.bind << "\n"
      << "port=" << s.modbus.port << "\n"
      << "[http]\n"
      << "enabled=" << flag(s.http.enabled) << "\n"
      << "bind=" << s.http.bind << "\n"
      << "port=" << s.http.port << "\n"
      << "hosts=" << joined(s.http.hosts)
      << "                ; more names of this PC that requests may give, beside its addresses\n"
      << "token=" << s.http.token
      << "                ; set: writes need \"Authorization: Bearer <token>\"; the file is 0600\n"
      << "commands=" << flag(s.http.commands) << "\n";
  out << "[captures]\n"
      << "keep_days=" << s.captures.keepDays
      << "              ; 0: keep every capture; N: delivered ones older than N days go\n";
  return out.str();
}

bool writeNetSettings(const std::string& path, const NetSettings& settings, std::string* error) {
  // A password or a token is for the owner's eyes only; otherwise an existing file keeps its mode.
  namespace fs = std::filesystem;
  unsigned mode = 0644;
  std::error_code ec;
  const fs::file_status old = fs::status(filePath(path), ec);
  if (!settings.mqtt.password.empty() || !settings.http.token.empty())
    mode = 0600;
  else if (!ec && fs::is_regular_file(old))
    mode = static_cast<unsigned>(old.permissions() & fs::perms::mask) & 0777;
  const std::string temporary = path + ".tmp";
  // A file left by an earlier failed write may be readable by others: it is never reused.
  removeFile(temporary);
  std::FILE* file = createNewFile(temporary, mode);
  const std::string text = formatNetSettings(settings);
  bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
            std::fflush(file) == 0 && syncFile(fileno(file));
  int failure = errno;
  if (file != nullptr && std::fclose(file) != 0 && ok) {
    ok = false;
    failure = errno;
  }
  if (ok && !renameOver(temporary, path)) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    if (file != nullptr) removeFile(temporary);
    if (error != nullptr)
      *error = "Can not write " + path + " (" + std::strerror(failure) +
               "); the file is left as it was.";
    return false;
  }
  syncFolderOf(path);
  return true;
}

}  // namespace trv4

#include "net/net_settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "base/blank_trim.h"
#include "base/file_names.h"
#include "base/file_sync.h"
#include "base/whole_file.h"
#include "net/net_settings_keys.h"

namespace trv4 {

namespace {

// Larger files are refused unread: the whole file is a few hundred bytes.
constexpr std::size_t kFileLimit = 64 * 1024;

// The file's sections in its order, and what stays off when one of them has a value it cannot use.
struct Section {
  const char* name;
  const char* service;
};
constexpr Section kSections[] = {
    {"mqtt", "MQTT publishing"},           {"sparkplug", "Sparkplug publishing"},
    {"modbus", "the Modbus server"},       {"http", "the HTTP server"},
    {"captures", "removing old captures"},
};

// The sections as a message names them: "[mqtt], [sparkplug], ... and [captures]", with `last`
// before the last one.
std::string sectionList(const char* last) {
  std::string out;
  const std::size_t n = std::size(kSections);
  for (std::size_t i = 0; i < n; ++i)
    out += std::string(i == 0 ? "" : i + 1 == n ? last : ", ") + "[" + kSections[i].name + "]";
  return out;
}

const Section* sectionNamed(std::string_view name) {
  for (const Section& s : kSections)
    if (s.name == name) return &s;
  return nullptr;
}

// A value's text without its comment: from a ";" that follows a blank.
std::string valueOf(std::string_view raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == ';' && (i == 0 || raw[i - 1] == ' ' || raw[i - 1] == '\t'))
      return trimBlanks(raw.substr(0, i));
  }
  return trimBlanks(raw);
}

// The keys of section, as a message lists them: in alphabetical order.
std::string keysOf(std::string_view section) {
  std::vector<std::string> keys;
  for (const SettingKey& k : netSettingKeys())
    if (k.section == section) keys.emplace_back(k.key);
  std::sort(keys.begin(), keys.end());
  std::string out;
  for (const std::string& k : keys) out += (out.empty() ? "" : ", ") + k;
  return out;
}

// A service with a value it cannot use stays off: its section's enabled= is false, and the keys
// of a section without one keep their defaults.
void turnOff(std::string_view section, NetSettings* s) {
  if (const SettingKey* on = netSettingKey(section, "enabled")) {
    settingValue<bool>(*on, *s) = false;
    return;
  }
  const NetSettings defaults;
  for (const SettingKey& k : netSettingKeys())
    if (k.section == section) copySetting(k, defaults, s);
}

}  // namespace

NetSettings parseNetSettings(std::string_view text) {
  NetSettings s;
  std::set<std::string_view> bad;
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
      if (sectionNamed(name) == nullptr)
        s.problems.push_back(where + ": the section is none of " + sectionList(" and ") +
                             "; it is left out.");
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string key = trimBlanks(std::string_view(line).substr(0, eq));
    if (name.empty()) {
      // Nothing says which service it is for.
      const auto keys = netSettingKeys();
      const bool known =
          eq != std::string::npos &&
          std::any_of(keys.begin(), keys.end(), [&](const SettingKey& k) { return k.key == key; });
      s.problems.push_back(where + (known ? ": \"" + key + "\"" : "") + " is in no section (" +
                           sectionList(" or ") + "); it is left out.");
      continue;
    }
    const Section* section = sectionNamed(name);
    if (section == nullptr) continue;
    const std::string service = section->service;
    if (eq == std::string::npos) {
      s.problems.push_back(where + " in [" + name + "] has no \"=\"; " + service + " stays off.");
      bad.insert(section->name);
      continue;
    }
    const SettingKey* row = netSettingKey(name, key);
    if (row == nullptr) {
      s.problems.push_back(where + ": [" + name + "] has no such key (its keys: " + keysOf(name) +
                           "); " + service + " stays off.");
      bad.insert(section->name);
      continue;
    }
    std::string why;
    if (!readSetting(*row, valueOf(std::string_view(line).substr(eq + 1)), &s, &why)) {
      // The value itself is not repeated: it may be a password or a token.
      s.problems.push_back(where + ": \"" + key + "\" in [" + name + "] " + why + "; " + service +
                           " stays off.");
      bad.insert(section->name);
    }
  }
  for (const std::string_view section : bad) turnOff(section, &s);
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

std::string formatNetSettings(const NetSettings& s) {
  std::string out;
  for (const Section& section : kSections) {
    out += "[" + std::string(section.name) + "]\n";
    for (const SettingKey& k : netSettingKeys())
      if (k.section == std::string_view(section.name))
        out += std::string(k.key) + "=" + settingText(k, s) + k.comment + "\n";
  }
  return out;
}

WrittenSetting checkWritten(const SettingKey& key, const NetSettings& settings) {
  // The reader takes the line up to its end, the value without blanks around it and its comment.
  const std::string text = settingText(key, settings);
  const std::size_t end = text.find('\n');
  const std::string line = end == std::string::npos ? text + key.comment : text.substr(0, end);
  NetSettings back = settings;
  WrittenSetting out;
  out.refused = !readSetting(key, valueOf(line), &back, &out.why);
  if (!out.refused) {
    out.changed = !sameSetting(key, back, settings);
    out.why.clear();
  }
  return out;
}

bool writeNetSettings(const std::string& path, const NetSettings& settings, std::string* error) {
  // A password or a token is for the owner's eyes only; otherwise an existing file keeps its mode.
  namespace fs = std::filesystem;
  unsigned mode = 0644;
  std::error_code ec;
  const fs::file_status old = fs::status(filePath(path), ec);
  const auto keys = netSettingKeys();
  if (std::any_of(keys.begin(), keys.end(), [&](const SettingKey& k) {
        return k.secret && !settingText(k, settings).empty();
      }))
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

#include "service/param_file.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "base/blank_trim.h"
#include "base/codepage.h"
#include "base/file_names.h"

namespace trv4 {

namespace {

constexpr const char* kVersionKey = "Program version";
constexpr const char* kSavedKey = "Saved";
constexpr const char* kScaleKey = "Scale";

// The caption as a key: "Scale Address :" loses its colon.
std::string keyOf(const ParamField& f) {
  std::string key = f.caption;
  while (!key.empty() && (key.back() == ':' || key.back() == ' ')) key.pop_back();
  return key;
}

bool yesNo(const ParamField& f) {
  return f.kind == FieldKind::Check || f.kind == FieldKind::Label;
}

// The fields a file holds: every one but the PIN.
bool saved(const ParamField& f) {
  return f.kind != FieldKind::Pin;
}

// What the operator may edit and a download writes, but the address: what a compare shows.
bool editable(const ParamField& f) {
  return saved(f) && f.enabled && f.kind != FieldKind::Label && f.name != "vScaleAddr" &&
         f.name != "vATCounter";
}

// How the scale talks on the line: a file from a line at another rate, written to this scale,
// would leave it deaf to this line.
bool lineSetting(const std::string& name) {
  return name == "vBaud" || name == "vDataBits";
}

std::string fileValue(const ParamField& f, const std::string& value) {
  if (yesNo(f)) return value == "1" ? "yes" : "no";
  return codePageToUtf8(value);
}

std::string quoted(std::string_view line) {
  constexpr std::size_t kShown = 60;
  std::string text(line.substr(0, kShown));
  if (line.size() > kShown) text += "…";
  return "\"" + text + "\"";
}

bool printable(const std::string& codePage) {
  return std::none_of(codePage.begin(), codePage.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

// The window's value for a file's value, or an error text.
std::optional<std::string> checked(const ParamField& f, const std::string& text, std::string* why) {
  if (yesNo(f)) {
    if (text == "yes" || text == "no") return std::string(text == "yes" ? "1" : "0");
    *why = "\"" + text + "\" is neither yes nor no";
    return std::nullopt;
  }
  const std::string value = utf8ToCodePage(text);
  if (f.kind == FieldKind::Choice) {
    // A list the window left empty (no answer to its read) is saved empty.
    if (value.empty() && f.initial.empty()) return value;
    if (std::find(f.choices.begin(), f.choices.end(), value) != f.choices.end()) return value;
    std::string list;
    for (const std::string& c : f.choices) list += (list.empty() ? "" : ", ") + c;
    *why = "\"" + text + "\" is not one of " + list;
    return std::nullopt;
  }
  if (value.size() > static_cast<std::size_t>(f.maxLength)) {
    *why = "\"" + text + "\" is longer than " + std::to_string(f.maxLength) + " characters";
    return std::nullopt;
  }
  if (!printable(value)) {
    *why = "the value holds control characters";
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string paramFileText(const Param& param, const std::string& savedAt) {
  std::string out = std::string(kParamFileHeading) + "\n";
  out += std::string(kVersionKey) + " = " + TRV4_VERSION + "\n";
  out += std::string(kSavedKey) + " = " + savedAt + "\n";
  out += std::string(kScaleKey) + " = " + codePageToUtf8(param.value("vScaleAddr")) + "\n";
  for (const ParamField& f : paramFields()) {
    if (saved(f)) out += keyOf(f) + " = " + fileValue(f, param.value(f.name)) + "\n";
  }
  for (int i = 0; i < 5; ++i)
    out += "Internal Resolution " + std::to_string(i) + " = " + codePageToUtf8(param.vInternal(i)) +
           "\n";
  for (int i = 0; i < 4; ++i)
    out +=
        "Corner " + std::to_string(i + 1) + " Factor = " + codePageToUtf8(param.Corner(i)) + "\n";
  return out;
}

std::optional<ParamFile> parseParamFile(std::string_view text, std::string* error) {
  if (text.size() > kParamFileLimit) {
    *error = "The file is too large to be a parameter file.";
    return std::nullopt;
  }
  if (text.find('\0') != std::string_view::npos) {
    *error = "The file is not text: it holds binary data.";
    return std::nullopt;
  }
  ParamFile file;
  std::set<std::string> seen;
  std::size_t number = 0;
  bool headed = false;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(from, end - from);
    from = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string where = "Line " + std::to_string(number) + " " + quoted(line) + ": ";
    if (!headed) {
      if (trimBlanks(line, " \t") != kParamFileHeading) {
        *error = "This is not a parameter file of this program: it does not begin with \"" +
                 std::string(kParamFileHeading) + "\".";
        return std::nullopt;
      }
      headed = true;
      continue;
    }
    if (trimBlanks(line, " \t").empty()) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      *error = where + "no \"=\" between a caption and its value.";
      return std::nullopt;
    }
    const std::string key = trimBlanks(line.substr(0, eq), " \t");
    const std::string value = trimBlanks(line.substr(eq + 1), " \t");
    if (utf8ToCodePage(value).find('?') != std::string::npos &&
        value.find('?') == std::string::npos) {
      *error = where + "a character no scale can hold.";
      return std::nullopt;
    }
    if (!seen.insert(key).second) {
      *error = where + "\"" + key + "\" is given twice.";
      return std::nullopt;
    }
    if (key == kVersionKey) {
      file.version = value;
      continue;
    }
    if (key == kSavedKey) {
      file.savedAt = value;
      continue;
    }
    if (key == kScaleKey) {
      file.address = value;
      continue;
    }
    const auto field =
        std::find_if(paramFields().begin(), paramFields().end(),
                     [&](const ParamField& f) { return saved(f) && keyOf(f) == key; });
    if (field == paramFields().end()) {
      // The scale's own readings are written for the reader and checked for their length.
      const bool reading =
          key.rfind("Internal Resolution ", 0) == 0 || key.rfind("Corner ", 0) == 0;
      if (reading && value.size() <= 6 && printable(utf8ToCodePage(value))) continue;
      *error = where + (reading ? "the value is not a reading of six characters."
                                : "\"" + key + "\" is no parameter of the window.");
      return std::nullopt;
    }
    std::string why;
    const std::optional<std::string> v = checked(*field, value, &why);
    if (!v) {
      *error = where + why + " for " + key + ".";
      return std::nullopt;
    }
    if (editable(*field)) file.settings.emplace_back(field->name, *v);
  }
  if (!headed) {
    *error = "The file is empty.";
    return std::nullopt;
  }
  for (const ParamField& f : paramFields()) {
    if (saved(f) && !seen.count(keyOf(f))) {
      *error = "The file ends without \"" + keyOf(f) + "\": it is cut short or incomplete.";
      return std::nullopt;
    }
  }
  return file;
}

std::optional<ParamFile> readParamFile(const std::string& path, std::string* error) {
  std::ifstream in(filePath(path), std::ios::binary);
  if (!in) {
    *error = "Can not read " + path + ".";
    return std::nullopt;
  }
  std::string text(kParamFileLimit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    *error = "Can not read " + path + ".";
    return std::nullopt;
  }
  return parseParamFile(text, error);
}

void loadParamFile(Param& param, const ParamFile& file) {
  for (const auto& [name, value] : file.settings)
    if (!lineSetting(name)) param.setValue(name, value);
}

std::vector<ParamDifference> compareParamFile(const Param& param, const ParamFile& file) {
  std::vector<ParamDifference> out;
  for (const ParamField& f : paramFields()) {
    const auto it = std::find_if(file.settings.begin(), file.settings.end(),
                                 [&](const auto& s) { return s.first == f.name; });
    if (it == file.settings.end() || it->second == param.value(f.name)) continue;
    out.push_back({keyOf(f), fileValue(f, param.value(f.name)), fileValue(f, it->second),
                   !lineSetting(f.name)});
  }
  return out;
}

}  // namespace trv4

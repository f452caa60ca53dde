#include "params/parameters.h"

#include <algorithm>

#include "link/command_queue.h"

namespace trv4 {

namespace {

constexpr char kAck = '\x06';
constexpr char kNak = '\x15';

bool allDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Characters from 1-based position `from` of an answer, at most `count`, as far as it goes.
std::string chars(const std::string& answer, std::size_t from, std::size_t count) {
  return from - 1 < answer.size() ? answer.substr(from - 1, count) : std::string();
}

}  // namespace

// Marks an exchange as running (and shows the busy pointer) for its lifetime, and holds its
// target: the whole operation works on the scale chosen when it started.
class Param::Busy {
 public:
  explicit Busy(Param& p) : p_(p) {
    p_.exchange_.hold();
    p_.busy_ = true;
    p_.toolkit_.setBusy(true);
    p_.changed();
  }
  ~Busy() {
    p_.toolkit_.setBusy(false);
    p_.busy_ = false;
    p_.exchange_.release();
    p_.changed();
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  Param& p_;
};

Param::Param(LinkState& state, const DisplaySettings& settings, SerialPort& port, Toolkit& toolkit)
    : state_(state), port_(port), toolkit_(toolkit), exchange_(state, settings, toolkit) {
  for (const ParamField& f : paramFields()) values_[f.name] = f.initial;
}

Param::~Param() = default;

const std::string& Param::value(const std::string& name) const {
  static const std::string none;
  const auto it = values_.find(name);
  return it == values_.end() ? none : it->second;
}

bool Param::setValue(const std::string& name, const std::string& text) {
  const ParamField* f = paramField(name);
  if (f == nullptr || !f->enabled) return false;
  switch (f->kind) {
    case FieldKind::Text:
    case FieldKind::Pin:
      set(name, text.substr(0, f->maxLength));
      return true;
    case FieldKind::Check:
      if (text != "0" && text != "1") return false;
      set(name, text);
      return true;
    case FieldKind::Choice:
      if (std::find(f->choices.begin(), f->choices.end(), text) == f->choices.end()) return false;
      set(name, text);
      return true;
    case FieldKind::Label:
      return false;
  }
  return false;
}

void Param::set(const std::string& name, const std::string& text) {
  values_[name] = text;
  changed();
}

void Param::changed() {
  if (onChanged) onChanged();
}

std::optional<std::string> Param::read(const std::string& request, std::size_t longer) {
  if (!exchange_.WaitDataL(request, longer, request)) return std::nullopt;
  return exchange_.reply();
}

bool Param::write(const std::string& command) {
  return exchange_.WaitDataL(command, 5, std::string(1, kAck));
}

void Param::decode(const std::string& request, const std::string& a) {
  auto tick = [&](std::size_t pos) { return chars(a, pos, 1) == "1" ? "1" : "0"; };
  if (request == "d") {
    const int flags = a.size() >= 4 ? static_cast<unsigned char>(a[3]) : 0;
    set("vCalLock", (flags & 1) ? "1" : "0");
    set("vPinLock", (flags & 2) ? "1" : "0");
    set("vATCounter", chars(a, 5, 6));
  } else if (request == "s1") {
    set("vTiltMode", chars(a, 5, 1) == "0" ? "NO" : "NC");
    set("vTiltDelay", chars(a, 6, 1));
  } else if (request == "p1") {
    set("vConv", chars(a, 5, 1));
    set("vGain", chars(a, 6, 1) == "1" ? "4mV/V" : "2mV/V");
    set("vLcNo", chars(a, 7, 1));
    set("vUnit", chars(a, 8, 1) == "1" ? "Lb" : "Kg");
    set("vFilter", chars(a, 9, 1));
    set("vMotionSamples", chars(a, 10, 1));
  } else if (request == "p2") {
    set("vResolution", chars(a, 5, 2));
    set("vRange", chars(a, 7, 2));
    set("vInterval", chars(a, 9, 2));
  } else if (request == "p3") {
    set("vDecimalPoint", chars(a, 5, 1));
    set("vAZero", tick(6));
    set("vPowerUpZero", tick(7));
    set("vDualFilter", tick(8));
    set("vLZero", tick(9));
  } else if (request == "q1" || request == "q2") {
    set(request == "q1" ? "vSetp1" : "vSetp2", chars(a, 5, 5));
  }
}

bool Param::blocked() {
  if (!exchangeBlocker) return false;
  const std::string why = exchangeBlocker();
  if (!why.empty()) toolkit_.messageBox(why);
  return !why.empty();
}

void Param::UploadParam() {
  if (exchange_.broadcast() || blocked()) return;
  Busy busy(*this);
  const std::string settingsText = port_.settings();
  set("vScaleAddr", exchange_.target());
  set("vBaud", settingsText.substr(0, settingsText.find(',')));

  for (const auto& [request, longer] : {std::pair{"d", 11}, std::pair{"s1", 8}}) {
    if (auto answer = read(request, longer)) decode(request, *answer);
  }
  for (const auto& [request, longer] : {std::pair{"p1", 12}, std::pair{"p2", 9}, std::pair{"p3", 9},
                                        std::pair{"q1", 9}, std::pair{"q2", 9}}) {
    auto answer = read(request, longer);
    if (!answer) {
      toolkit_.messageBox("Wrong Data Received");
      return;
    }
    decode(request, *answer);
  }
  for (int i = 0; i < 4; ++i) {
    if (auto answer = read("f" + std::to_string(i + 1), 8)) {
      corner_[i] = chars(*answer, 5, 6);
      changed();
    }
  }
  set("vDataBits", settingsText.find(",8") != std::string::npos ? "N8" : "E7");
}

void Param::Command1_Click() {
  if (busy_ || exchange_.broadcast() || blocked()) return;
  Busy busy(*this);
  for (int i = 0; i < 5; ++i) {
    auto answer = read("i" + std::to_string(i), 9);
    if (!answer && i == 0) {
      toolkit_.messageBox("No Responce");
      return;
    }
    if (answer) {
      internal_[i] = chars(*answer, 5, 6);
      changed();
    }
  }
}

void Param::Command2_Click() {
  if (busy_ || blocked()) return;
  windowEnabled_ = false;
  changed();
  UploadParam();
  windowEnabled_ = true;
  changed();
}

std::optional<std::string> Param::number(const std::string& name, std::size_t width,
                                         std::size_t maxDigits) {
  const std::string& text = value(name);
  if (text.empty() || text.size() > maxDigits || !allDigits(text)) {
    toolkit_.messageBox(paramField(name)->caption + " must be a whole number of 1 to " +
                        std::to_string(maxDigits) + " digits");
    return std::nullopt;
  }
  return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
}

std::optional<std::string> Param::exact(const std::string& name, std::size_t width) {
  const std::string& text = value(name);
  if (text.size() != width) {
    toolkit_.messageBox(paramField(name)->caption + " must be chosen");
    return std::nullopt;
  }
  return text;
}

void Param::Command3_Click() {
  if (busy_ || blocked()) return;
  // Every field is checked before anything is sent: a scale never gets a malformed write.
  const auto delay = exact("vTiltDelay", 1);
  const auto resolution = delay ? exact("vResolution", 2) : std::nullopt;
  const auto range = resolution ? number("vRange", 2, 2) : std::nullopt;
  const auto interval = range ? number("vInterval", 2, 2) : std::nullopt;
  const auto point = interval ? exact("vDecimalPoint", 1) : std::nullopt;
  const auto conv = point ? exact("vConv", 1) : std::nullopt;
  const auto cells = conv ? exact("vLcNo", 1) : std::nullopt;
  const auto filter = cells ? exact("vFilter", 1) : std::nullopt;
  const auto samples = filter ? exact("vMotionSamples", 1) : std::nullopt;
  if (!samples) return;

  Busy busy(*this);
  exchange_.WaitData("S1" + std::string(value("vTiltMode") == "NO" ? "0" : "1") + *delay + "000");
  const std::string p3 = "P3" + *point + value("vAZero") + value("vPowerUpZero") +
                         value("vDualFilter") + value("vLZero") + "0";
  const std::string p1 =
      "P1" + *conv + (value("vGain") == "4mV/V" ? "1" : "0") + *cells + "0" + *filter + *samples;
  for (const std::string& command : {"P2" + *resolution + *range + *interval, p3, p1}) {
    if (!write(command)) {
      toolkit_.messageBox("Command not accepted");
      return;
    }
  }
}

void Param::Command4_Click() {
  if (busy_ || blocked()) return;
  const auto setp1 = number("vSetp1", 5, 5);
  const auto setp2 = setp1 ? number("vSetp2", 5, 5) : std::nullopt;
  const auto address = setp2 ? exact("vScaleAddr", 1) : std::nullopt;
  const std::string& baud = value("vBaud");
  if (address && baud.size() < 2) {
    toolkit_.messageBox(paramField("vBaud")->caption + " must be chosen");
    return;
  }
  if (!address) return;

  Busy busy(*this);
  if (!write("Q1" + *setp1) || !write("Q2" + *setp2)) {
    toolkit_.messageBox("Command not accepted");
    return;
  }
  exchange_.WaitData("S2" + *address + baud.substr(0, 2) +
                     (value("vDataBits") == "E7" ? "17" : "08"));
}

void Param::Command5_Click() {
  if (busy_ || blocked()) return;
  // The scale chosen when Store was pressed, also when the choice changes while the box asks.
  const std::string address = exchange_.target();
  if (toolkit_.askYesNo("Make Changes Permanent?", "STORE")) QueueCommand(state_, address, "W");
}

void Param::Command6_Click() {
  lock("J0", 6);
}
void Param::Command9_Click() {
  lock("J1", 9);
}

void Param::readLock() {
  if (auto answer = read("d", 11)) decode("d", *answer);
}

void Param::lock(const char* command, int button) {
  if (busy_ || exchange_.broadcast() || blocked()) return;
  const auto pin = number("vPin", 6, 6);
  if (!pin) return;
  pressed_ = button;
  Busy busy(*this);
  exchange_.WaitPin(command + *pin);
  const std::string answer = exchange_.reply();
  if (answer.size() >= 4 && answer[2] == kNak) toolkit_.messageBox("Command not accepted");
  readLock();
  pressed_ = 0;
}

}  // namespace trv4

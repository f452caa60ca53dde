#include "link/qt_serial_port.h"

#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>

#include "link/port_device.h"
#include "link/port_settings.h"

namespace trv4 {

namespace {

QSerialPort::Parity toQtParity(char parity) {
  switch (parity) {
    case 'E':
      return QSerialPort::EvenParity;
    case 'O':
      return QSerialPort::OddParity;
    default:
      return QSerialPort::NoParity;
  }
}

// The system's text for the last error, "" when it says nothing.
std::string errorText(const QSerialPort& serial) {
  const std::string text = serial.errorString().toStdString();
  return text == "Unknown error" ? std::string() : text;
}

// The name of the group that owns `device`, "" when unknown.
std::string owningGroup(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  return g ? g->gr_name : std::string();
}

}  // namespace

// What the port keeps of unread input, like a hardware receive buffer: a line that streams
// while nobody reads cannot grow memory without bound.
constexpr qint64 kReceiveBufferSize = 4096;

QtSerialPort::QtSerialPort(DeviceFolders folders) : folders_(std::move(folders)) {
  serial_.setReadBufferSize(kReceiveBufferSize);
  connect(&serial_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
  connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() = default;

PortError QtSerialPort::setCommPort(int port) {
  if (serial_.isOpen()) return PortFailure{.code = PortFailureCode::kOpenWhileChoosing};
  if (port != port_) name_.clear();
  port_ = port;
  return std::nullopt;
}

PortError QtSerialPort::setPortOpen(bool open) {
  if (!open) {
    closeDevice();
    return std::nullopt;
  }
  if (serial_.isOpen()) return PortFailure{.code = PortFailureCode::kAlreadyOpen, .port = port_};
  const std::string device = portDevice(port_, folders_);
  if (device.empty()) return PortFailure{.code = PortFailureCode::kNoDevice, .port = port_};
  return openDevice(device, false);
}

PortError QtSerialPort::reopen() {
  if (serial_.isOpen()) return std::nullopt;
  if (name_.empty()) return setPortOpen(true);
  // A ./COMn link is opened as the link, so a link re-pointed meanwhile (an adapter back under
  // another device name, a new simulator) is followed; a missing one fails instead of letting
  // the number fall to another device.
  return openDevice(name_, true);
}

PortError QtSerialPort::openDevice(const std::string& device, bool again) {
  // Checked before opening: opening a named pipe would wait for a writer.
  if (PortError problem = deviceProblem(port_, device)) return problem;
  if (guard_) {
    if (PortError refused = guard_(port_, device)) return refused;
  }
  // A device of a group the user is not in: the usual reason on a fresh desktop.
  if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
    return PortFailure{.code = PortFailureCode::kPermissionDenied,
                       .port = port_,
                       .device = device,
                       .group = owningGroup(device)};
  }
  // An absolute path keeps QSerialPort from looking for the name under /dev.
  serial_.setPortName(QFileInfo(QString::fromStdString(device)).absoluteFilePath());
  if (!serial_.open(QIODevice::ReadWrite)) {
    return PortFailure{.code = PortFailureCode::kOpenRefused,
                       .port = port_,
                       .device = device,
                       .detail = errorText(serial_)};
  }
  name_ = device;
  // The settings text was checked when it was set; a device that still refuses part of it is
  // reported when the settings or the handshaking are set again, not as a failed open.
  const bool settingsRefused = applySettings().has_value();
  const bool handshakingRefused = applyHandshaking().has_value();
  if (!again) {
    settingsRefused_ = settingsRefused;
    handshakingRefused_ = handshakingRefused;
  }
  return std::nullopt;
}

PortError QtSerialPort::setSettings(const std::string& settings) {
  std::string error;
  if (!parseLineSettings(settings, &error)) {
    return PortFailure{
        .code = PortFailureCode::kSettingsMalformed, .settings = settings, .detail = error};
  }
  // A text the device refuses leaves the port on the one it had, and settings() says so.
  const std::string previous = settings_;
  settings_ = settings;
  PortError refused = applySettings();
  if (!refused) {
    if (serial_.isOpen()) settingsRefused_ = false;
    return std::nullopt;
  }
  settings_ = previous;
  applySettings();
  // The text the port runs with, refused as it was when the port was opened: nothing new, the
  // port goes on as it has since then (after a loss too, so the device is taken back).
  if (settings == previous && settingsRefused_) return std::nullopt;
  return refused;
}

PortError QtSerialPort::applySettings() {
  if (!serial_.isOpen()) return std::nullopt;
  std::string error;
  std::optional<LineSettings> line = parseLineSettings(settings_, &error);
  if (!line) {
    return PortFailure{
        .code = PortFailureCode::kSettingsMalformed, .settings = settings_, .detail = error};
  }
  const bool ok =
      serial_.setBaudRate(line->baud) &&
      serial_.setDataBits(line->dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8) &&
      serial_.setParity(toQtParity(line->parity)) &&
      serial_.setStopBits(line->stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
  if (!ok) {
    return PortFailure{.code = PortFailureCode::kSettingsRefused,
                       .settings = settings_,
                       .detail = errorText(serial_)};
  }
  return std::nullopt;
}

PortError QtSerialPort::setHandshaking(int mode) {
  if (mode < 0 || mode > 3) {
    return PortFailure{.code = PortFailureCode::kHandshakingOutOfRange, .handshaking = mode};
  }
  const bool same = mode == handshaking_;
  handshaking_ = mode;
  PortError refused = applyHandshaking();
  if (!refused && serial_.isOpen()) handshakingRefused_ = false;
  if (refused && same && handshakingRefused_) return std::nullopt;
  return refused;
}

PortError QtSerialPort::applyHandshaking() {
  if (!serial_.isOpen()) return std::nullopt;
  const bool rts = handshaking_ == 2 || handshaking_ == 3;
  const bool xon = handshaking_ == 1 || handshaking_ == 3;
  if (!serial_.setFlowControl(rts   ? QSerialPort::HardwareControl
                              : xon ? QSerialPort::SoftwareControl
                                    : QSerialPort::NoFlowControl)) {
    return PortFailure{.code = PortFailureCode::kHandshakingRefused,
                       .handshaking = handshaking_,
                       .detail = errorText(serial_)};
  }
  if (rts && xon) {
    // QSerialPort takes one kind of flow control; "both" adds XON/XOFF on the descriptor.
    termios tio{};
    const int fd = static_cast<int>(serial_.handle());
    if (tcgetattr(fd, &tio) == 0) {
      tio.c_iflag |= IXON | IXOFF;
      tcsetattr(fd, TCSANOW, &tio);
    }
  }
  return std::nullopt;
}

void QtSerialPort::output(const std::string& bytes) {
  if (!serial_.isOpen()) return;
  // Straight to the descriptor while the device takes it: a frame handed to QSerialPort also
  // wakes its write watcher for one more pass of the event loop after every request. What the
  // device does not take at once (its output buffer full) goes through QSerialPort, in order.
  const int fd = static_cast<int>(serial_.handle());
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0 && serial_.bytesToWrite() == 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n > 0) {
      data += n;
      left -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (left == 0) return;
  serial_.write(data, static_cast<qint64>(left));
  serial_.flush();
}

std::string QtSerialPort::input() {
  // Read straight into the text handed on: at 9600 baud a read holds a character or two, and a
  // QByteArray per read would cost an allocation each time.
  std::string data(static_cast<size_t>(serial_.bytesAvailable()), '\0');
  const qint64 got = data.empty() ? 0 : serial_.read(data.data(), static_cast<qint64>(data.size()));
  data.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return data;
}

int QtSerialPort::inBufferCount() const {
  return static_cast<int>(serial_.bytesAvailable());
}

bool QtSerialPort::readWaiting() {
  // Asked only when the descriptor has bytes: with nothing to read, a wait of 0 ms would report a
  // time-out error.
  if (!serial_.isOpen()) return false;
  pollfd waiting{static_cast<int>(serial_.handle()), POLLIN, 0};
  if (::poll(&waiting, 1, 0) != 1 || !(waiting.revents & POLLIN)) return false;
  return serial_.waitForReadyRead(0);
}

void QtSerialPort::onReadyRead() {
  if (rThreshold_ < 1 || !onComm_) return;
  commEvent_ = kCommEventReceive;
  onComm_();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
  // The device went away: a pulled adapter reports a resource error, a hung-up line (e.g. the
  // far end of a pseudo-terminal closed) fails every read. Close the port, so the scan cycle
  // stops sending and no event keeps firing on a dead descriptor, and tell the owner, which
  // opens it again when the device is back.
  const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
  if (!gone || !serial_.isOpen()) return;
  closeDevice();
  if (onLost_) onLost_();
}

void QtSerialPort::closeDevice() {
  if (serial_.isOpen()) serial_.close();
}

std::string QtSerialPort::deviceText(int port) const {
  return portDeviceText(port, folders_);
}

}  // namespace trv4

// The serial-port component on QSerialPort. Port numbers name devices as portDevice() says; the
// receive event is raised on the UI thread from readyRead. A device that is no serial device or
// that this user may not open is refused before opening, with a message that says why.
#pragma once

#include <QObject>
#include <QSerialPort>

#include "link/port_device.h"
#include "link/serial_port.h"

namespace trv4 {

class QtSerialPort : public QObject, public SerialPort {
  Q_OBJECT

 public:
  // folders: where port numbers are looked up (tests use scratch folders).
  explicit QtSerialPort(DeviceFolders folders = {});
  ~QtSerialPort() override;

  PortError setCommPort(int port) override;
  int commPort() const override { return port_; }
  PortError setPortOpen(bool open) override;
  bool portOpen() const override { return serial_.isOpen(); }
  PortError reopen() override;
  PortError setSettings(const std::string& settings) override;
  std::string settings() const override { return settings_; }
  PortError setHandshaking(int mode) override;
  int handshaking() const override { return handshaking_; }
  void output(const std::string& bytes) override;
  std::string input() override;
  int inBufferCount() const override;
  bool readWaiting() override;
  void setRThreshold(int threshold) override { rThreshold_ = threshold; }
  int rThreshold() const override { return rThreshold_; }
  void setOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
  int commEvent() const override { return commEvent_; }
  std::string deviceText(int port) const override;
  void setOnDeviceLost(std::function<void()> handler) override { onLost_ = std::move(handler); }

  // Asked before every open, first and again, with the port number and the device about to be
  // opened; a failure it returns refuses the open (the gateway's claim on its device).
  using OpenGuard = std::function<PortError(int port, const std::string& device)>;
  void setOpenGuard(OpenGuard guard) { guard_ = std::move(guard); }

 private:
  // again: a reopen after a loss, which keeps what the first open found the device refusing.
  PortError openDevice(const std::string& device, bool again);
  PortError applySettings();
  PortError applyHandshaking();
  void onReadyRead();
  void closeDevice();
  void onError(QSerialPort::SerialPortError error);

  QSerialPort serial_;
  int port_ = 1;
  DeviceFolders folders_;
  // The name the port was last opened under: its ./COMn link (followed afresh at every open) or
  // the device path. Tries after a loss open this name again, never another device.
  std::string name_;
  std::string settings_ = "9600,E,7,1";
  // The device refused part of the line settings, or the handshaking, when the port was opened
  // (a pseudo-terminal may take no parity, for one) and runs on what it took.
  bool settingsRefused_ = false;
  bool handshakingRefused_ = false;
  int handshaking_ = 0;
  int rThreshold_ = 0;
  int commEvent_ = 0;
  std::function<void()> onComm_;
  std::function<void()> onLost_;
  OpenGuard guard_;
};

}  // namespace trv4

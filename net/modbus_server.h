// The read-only Modbus TCP server: every scale's weight in eight input registers (see
// net/modbus_map.h), refreshed every 100 ms from what the monitor shows. Writes are refused with
// the exception for an illegal function.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "base/toolkit.h"
#include "display/monitor_model.h"
#include "link/link_state.h"
#include "link/link_stats.h"
#include "net/net_settings.h"

class QModbusTcpServer;

namespace trv4 {

class ModbusServer : public QObject {
  Q_OBJECT

 public:
  ModbusServer(const ModbusSettings& settings, const MonitorModel& monitor, const LinkState& state,
               const LinkStats& stats, Toolkit& toolkit, QObject* parent = nullptr);
  ~ModbusServer() override;

  // Starts listening; "" when it does, else why not, in plain words.
  std::string start();
  // Writes every scale's registers from what the monitor shows now.
  void refresh();

 private:
  ModbusSettings settings_;
  const MonitorModel& monitor_;
  const LinkState& state_;
  const LinkStats& stats_;
  std::unique_ptr<Timer> timer_;
  QModbusTcpServer* server_ = nullptr;
};

}  // namespace trv4

// The read-only Modbus TCP server: every scale's weight in eight input registers (see
// net/modbus_map.h), refreshed every 100 ms from the plant board (what the monitor shows). Writes
// are refused with the exception for an illegal function. It listens exactly where `bind` says: on
// the address written, or on every address a host name has, and nowhere else.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "base/toolkit.h"
#include "net/net_settings.h"
#include "net/plant_board.h"

class QModbusTcpServer;

namespace trv4 {

class ModbusServer : public QObject {
  Q_OBJECT

 public:
  // toolkit: timers, clock and messages of the thread the server runs on.
  ModbusServer(const ModbusSettings& settings, const PlantBoard& board, Toolkit& toolkit,
               QObject* parent = nullptr);
  ~ModbusServer() override;

  // Starts listening; "" when it does, else why not, in plain words. A host name is looked up
  // first, without waiting: when it names nothing or an address cannot be listened on, that is
  // told later through the toolkit's message box, and the server stays off.
  std::string start();
  // Writes every scale's registers from what the monitor shows now.
  void refresh();
  // The addresses it listens on; empty while it does not (yet).
  const QList<QHostAddress>& listening() const { return listening_; }

 private:
  // Listens on every address or on none; "" when it does, else why not.
  std::string listen(const QList<QHostAddress>& addresses);

  ModbusSettings settings_;
  const PlantBoard& board_;
  Toolkit& toolkit_;
  std::unique_ptr<Timer> timer_;
  std::vector<QModbusTcpServer*> servers_;  // one per address
  QList<QHostAddress> listening_;
};

}  // namespace trv4

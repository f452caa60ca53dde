// The read-only Modbus TCP server: every scale's weight in eight input registers (see
// net/modbus_map.h), refreshed every 100 ms from the plant board (what the monitor shows). Writes
// are refused with the exception for an illegal function. It listens exactly where `bind` says: on
// the address written, or on every address a host name has, and nowhere else. Its clients are
// held to ModbusLimits, so none of them can hold up the program or fill its memory.
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

struct ModbusLimits {
  int maxClients = 16;  // connected at once, over every address; more are closed at once
  int idleMs = 60000;   // a client that gets no answer this long is closed
  // A client whose answers wait unsent past this (it does not read them) is closed.
  qint64 maxUnsentBytes = 64 * 1024;
  // Read from a client at a turn: at most 85 requests, so one client never holds the thread.
  qint64 readBytesPerTurn = 1024;
};

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
  // For servers started after it.
  void setLimits(const ModbusLimits& limits) { limits_ = limits; }
  // Writes every scale's registers from what the monitor shows now.
  void refresh();
  // The addresses it listens on; empty while it does not (yet).
  const QList<QHostAddress>& listening() const { return listening_; }

 private:
  ModbusSettings settings_;
  const PlantBoard& board_;
  Toolkit& toolkit_;
  ModbusLimits limits_;
  std::shared_ptr<int> clients_ = std::make_shared<int>(0);
  std::unique_ptr<Timer> timer_;
  std::vector<QModbusTcpServer*> servers_;  // one per address
  QList<QHostAddress> listening_;
};

}  // namespace trv4

#include "net/modbus_server.h"

#include <QBasicTimer>
#include <QModbusTcpServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimerEvent>
#include <QVariant>

#include "net/bound_listeners.h"
#include "net/modbus_map.h"

namespace trv4 {

namespace {

constexpr int kRefreshMs = 100;

// Input registers only; a write of any kind is an illegal function here.
class ReadOnlyServer : public QModbusTcpServer {
 public:
  using QModbusTcpServer::QModbusTcpServer;

 protected:
  QModbusResponse processRequest(const QModbusPdu& request) override {
    switch (request.functionCode()) {
      case QModbusPdu::WriteSingleCoil:
      case QModbusPdu::WriteSingleRegister:
      case QModbusPdu::WriteMultipleCoils:
      case QModbusPdu::WriteMultipleRegisters:
      case QModbusPdu::MaskWriteRegister:
      case QModbusPdu::ReadWriteMultipleRegisters:
        return QModbusExceptionResponse(request.functionCode(),
                                        QModbusExceptionResponse::IllegalFunction);
      default:
        return QModbusTcpServer::processRequest(request);
    }
  }
};

// One client held to the limits, as a child of its socket. Qt's server reads all the socket holds
// at each readyRead and answers every whole request in it at once; the socket's read buffer
// bounds that. It is connected before the server's reader, so it sees the unsent answers of the
// turns before.
class ClientWatch : public QObject {
 public:
  ClientWatch(QTcpSocket* socket, const ModbusLimits& limits, std::shared_ptr<int> clients)
      : QObject(socket), socket_(socket), limits_(limits), clients_(std::move(clients)) {
    ++*clients_;
    socket->setReadBufferSize(limits.readBytesPerTurn);
    connect(socket, &QTcpSocket::readyRead, this, [this] {
      if (socket_->bytesToWrite() > limits_.maxUnsentBytes) cut();
    });
    // An answer went out: the client has idleMs again.
    connect(socket, &QTcpSocket::bytesWritten, this, [this] { idle_.start(limits_.idleMs, this); });
    connect(socket, &QAbstractSocket::disconnected, this, &ClientWatch::release);
    idle_.start(limits.idleMs, this);
  }
  ~ClientWatch() override { release(); }

 protected:
  void timerEvent(QTimerEvent* event) override {
    if (event->timerId() != idle_.timerId()) {
      QObject::timerEvent(event);
      return;
    }
    idle_.stop();
    if (socket_->bytesToWrite() == 0)
      socket_->disconnectFromHost();
    else
      cut();
  }

 private:
  // Closes at once, answers unsent; the server reads nothing more from it.
  void cut() {
    disconnect(socket_, &QTcpSocket::readyRead, nullptr, nullptr);
    socket_->abort();
  }
  void release() {
    idle_.stop();
    if (counted_) --*clients_;
    counted_ = false;
  }

  QTcpSocket* socket_;
  ModbusLimits limits_;
  std::shared_ptr<int> clients_;
  QBasicTimer idle_;
  bool counted_ = true;
};

// Takes a new client while fewer than maxClients are connected; the server closes the others.
class ClientLimit : public QModbusTcpConnectionObserver {
 public:
  ClientLimit(const ModbusLimits& limits, std::shared_ptr<int> clients)
      : limits_(limits), clients_(std::move(clients)) {}
  bool acceptNewConnection(QTcpSocket* client) override {
    if (*clients_ >= limits_.maxClients) return false;
    new ClientWatch(client, limits_, clients_);
    return true;
  }

 private:
  ModbusLimits limits_;
  std::shared_ptr<int> clients_;
};

// An address as the server's connection parameter takes it: IPv6 in brackets.
QString urlHost(const QHostAddress& address) {
  const QString text = address.toString();
  return address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + text + "]" : text;
}

}  // namespace

ModbusServer::ModbusServer(const ModbusSettings& settings, const PlantBoard& board,
                           Toolkit& toolkit, QObject* parent)
    : QObject(parent), settings_(settings), board_(board), toolkit_(toolkit) {
  timer_ = toolkit.createTimer([this] { refresh(); });
  timer_->setInterval(kRefreshMs);
}

ModbusServer::~ModbusServer() {
  for (QModbusTcpServer* server : servers_) {
    // Qt frees what it keeps for a client when the client's socket goes before the server does.
    for (QTcpSocket* client : server->findChildren<QTcpSocket*>()) {
      client->abort();
      delete client;
    }
    server->disconnectDevice();
  }
}

std::string ModbusServer::start() {
  QModbusDataUnitMap map;
  map.insert(QModbusDataUnit::InputRegisters,
             QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kMaxScales * kRegistersPerScale));
  const auto open = [this, map](const QHostAddress& address, quint16 port, std::string* why) {
    auto server = std::make_unique<ReadOnlyServer>(this);
    server->setMap(map);
    server->setServerAddress(1);
    server->setConnectionParameter(QModbusDevice::NetworkAddressParameter, urlHost(address));
    server->setConnectionParameter(QModbusDevice::NetworkPortParameter, static_cast<int>(port));
    server->installConnectionObserver(new ClientLimit(limits_, clients_));  // the server owns it
    if (!server->connectDevice()) {
      *why = server->errorString().toStdString();
      return std::unique_ptr<ReadOnlyServer>();
    }
    // The server reads its address through a URL: it must not have taken another one.
    auto* socket = server->findChild<QTcpServer*>();
    if (socket != nullptr &&
        !socket->serverAddress().isEqual(address, QHostAddress::ConvertV4MappedToIPv4)) {
      *why = "it would listen on " + socket->serverAddress().toString().toStdString();
      return std::unique_ptr<ReadOnlyServer>();
    }
    return server;
  };
  const auto listening = [this](std::vector<std::unique_ptr<ReadOnlyServer>> servers,
                                const QList<QHostAddress>& addresses, quint16) {
    for (std::unique_ptr<ReadOnlyServer>& server : servers)
      servers_.push_back(server.release());  // a child of this server
    listening_ = addresses;
    refresh();
    timer_->setEnabled(true);
  };
  return listenWhereBound<ReadOnlyServer>({"modbus", "Modbus", settings_.bind, settings_.port},
                                          this, toolkit_, open, listening);
}

void ModbusServer::refresh() {
  if (servers_.empty()) return;
  const PlantSnapshot s = board_.read();
  const int64_t now = s.linkNowMs();
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleSnapshot& scale = s.scales[i];
    ScaleReading r;
    r.view = scale.view;
    r.answered = scale.answering;
    r.unitFlag = s.unitFlag;
    r.sinceReplyMs = scale.counters.lastReplyAt < 0 ? -1 : now - scale.counters.lastReplyAt;
    const auto regs = scaleRegisters(r);
    for (QModbusTcpServer* server : servers_)
      for (int k = 0; k < kRegistersPerScale; ++k)
        server->setData(QModbusDataUnit::InputRegisters,
                        static_cast<quint16>(i * kRegistersPerScale + k), regs[k]);
  }
}

}  // namespace trv4

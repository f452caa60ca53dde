#include "net/modbus_server.h"

#include <QModbusTcpServer>
#include <QVariant>

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

}  // namespace

ModbusServer::ModbusServer(const ModbusSettings& settings, const MonitorModel& monitor,
                           const LinkState& state, const LinkStats& stats, Toolkit& toolkit,
                           QObject* parent)
    : QObject(parent), settings_(settings), monitor_(monitor), state_(state), stats_(stats) {
  timer_ = toolkit.createTimer([this] { refresh(); });
  timer_->setInterval(kRefreshMs);
}

ModbusServer::~ModbusServer() {
  if (server_) server_->disconnectDevice();
}

std::string ModbusServer::start() {
  auto* server = new ReadOnlyServer(this);
  QModbusDataUnitMap map;
  map.insert(QModbusDataUnit::InputRegisters,
             QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kMaxScales * kRegistersPerScale));
  server->setMap(map);
  server->setServerAddress(1);
  server->setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                 QString::fromStdString(settings_.bind));
  server->setConnectionParameter(QModbusDevice::NetworkPortParameter, settings_.port);
  if (!server->connectDevice()) {
    const std::string why = "The Modbus server can not listen on " + settings_.bind + " port " +
                            std::to_string(settings_.port) + ": " +
                            server->errorString().toStdString();
    delete server;
    return why;
  }
  server_ = server;
  refresh();
  timer_->setEnabled(true);
  return {};
}

void ModbusServer::refresh() {
  if (!server_) return;
  const int64_t now = stats_.now();
  for (int i = 0; i < kMaxScales; ++i) {
    const ScaleCounters& c = stats_.scale(i);
    ScaleReading r;
    r.view = monitor_.panel(i).view;
    r.answered = state_.DisplayHold[i] > 0 && !r.view.text.empty();
    r.unitFlag = state_.UnitFlag;
    r.sinceReplyMs = c.lastReplyAt < 0 ? -1 : now - c.lastReplyAt;
    const auto regs = scaleRegisters(r);
    for (int k = 0; k < kRegistersPerScale; ++k)
      server_->setData(QModbusDataUnit::InputRegisters,
                       static_cast<quint16>(i * kRegistersPerScale + k), regs[k]);
  }
}

}  // namespace trv4

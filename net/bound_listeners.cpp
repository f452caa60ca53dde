#include "net/bound_listeners.h"

#include <QTcpServer>

#include "net/accept_backoff.h"
#include "net/bind_address.h"

namespace trv4 {

namespace {

QTcpServer* listenerOf(QObject& server) {
  if (auto* listener = qobject_cast<QTcpServer*>(&server)) return listener;
  return server.findChild<QTcpServer*>();
}

// Listens on every address or on none; "" when it does, else why not.
std::string listenOnAll(const ListenPlace& place, const QList<QHostAddress>& addresses,
                        const OpenServer<QObject>& open,
                        const ServersListening<QObject>& listening) {
  auto port = static_cast<quint16>(place.port);
  std::vector<std::unique_ptr<QObject>> made;
  for (const QHostAddress& address : addresses) {
    std::string why;
    std::unique_ptr<QObject> server = open(address, port, &why);
    if (server == nullptr) {
      std::string told = "The " + place.server + " server can not listen on " +
                         address.toString().toStdString() + " port " + std::to_string(port);
      if (address.toString().toStdString() != place.bind) told += " (bind=" + place.bind + ")";
      return told + ": " + why + "; it stays off.";
    }
    if (QTcpServer* listener = listenerOf(*server)) {
      new AcceptBackoff(listener);
      port = listener->serverPort();  // port 0 takes one; every address then takes the same
    }
    made.push_back(std::move(server));
  }
  listening(std::move(made), addresses, port);
  return {};
}

}  // namespace

std::string listenWhereBound(const ListenPlace& place, QObject* context, Toolkit& toolkit,
                             OpenServer<QObject> open, ServersListening<QObject> listening) {
  const std::string& bind = place.bind;
  if (bind.empty())
    return "TRV4NET.INI: \"bind\" in [" + place.section + "] is empty; the " + place.server +
           " server stays off.";
  if (const std::optional<QHostAddress> address = bindLiteral(bind))
    return listenOnAll(place, {*address}, open, listening);
  lookUpBind(bind, context,
             [place, &toolkit, open = std::move(open),
              listening = std::move(listening)](const BindAddresses& found) {
               const std::string why =
                   found.addresses.isEmpty()
                       ? "TRV4NET.INI: \"bind\" in [" + place.section + "] is " + place.bind +
                             ", which is no address and no host name this PC can look up (" +
                             found.why + "); the " + place.server + " server stays off."
                       : listenOnAll(place, found.addresses, open, listening);
               if (!why.empty()) toolkit.messageBox(why);
             });
  return {};
}

}  // namespace trv4

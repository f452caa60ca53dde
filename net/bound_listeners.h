// Listening exactly where `bind` of a TRV4NET.INI section says: on the address written, or on
// every address a host name has (looked up without waiting), one server an address, on all of
// them or on none. Every listener pauses and tries again while the process has no descriptor
// left (net/accept_backoff.h). The Modbus and the HTTP server listen through it.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/toolkit.h"

namespace trv4 {

struct ListenPlace {
  std::string section;  // of TRV4NET.INI, as its messages name it: "modbus"
  std::string server;   // the server, as its messages name it: "Modbus"
  std::string bind;
  int port = 0;  // 0 takes a free port, the same on every address
};

// Makes a server listening on address and port, which is a QTcpServer or has one as its child;
// null, and why in plain words, when it can not.
template <typename Server>
using OpenServer = std::function<std::unique_ptr<Server>(const QHostAddress& address, quint16 port,
                                                         std::string* why)>;
// Every address listens: the servers in the addresses' order, and the port they share.
template <typename Server>
using ServersListening = std::function<void(std::vector<std::unique_ptr<Server>> servers,
                                            const QList<QHostAddress>& addresses, quint16 port)>;

// "" when the servers listen or a host name is being looked up, else why not. A name that names
// nothing, or an address that can not be listened on after the look-up, is told through
// toolkit's message box; listening then runs on context's thread, never once context is gone.
std::string listenWhereBound(const ListenPlace& place, QObject* context, Toolkit& toolkit,
                             OpenServer<QObject> open, ServersListening<QObject> listening);

template <typename Server>
std::string listenWhereBound(const ListenPlace& place, QObject* context, Toolkit& toolkit,
                             std::type_identity_t<OpenServer<Server>> open,
                             std::type_identity_t<ServersListening<Server>> listening) {
  return listenWhereBound(
      place, context, toolkit,
      [open = std::move(open)](const QHostAddress& address, quint16 port, std::string* why) {
        return std::unique_ptr<QObject>(open(address, port, why));
      },
      [listening = std::move(listening)](std::vector<std::unique_ptr<QObject>> made,
                                         const QList<QHostAddress>& addresses, quint16 port) {
        std::vector<std::unique_ptr<Server>> servers;
        for (std::unique_ptr<QObject>& server : made)
          servers.emplace_back(static_cast<Server*>(server.release()));
        listening(std::move(servers), addresses, port);
      });
}

}  // namespace trv4

// What `bind` of a TRV4NET.INI section names: an IPv4 or IPv6 address as written, or a host
// name looked up on Qt's resolver thread, so a slow name server never holds up the windows. The
// servers' listeners (net/bound_listeners.h) and the Publishing dialog read it the same way.
#pragma once

#include <QHostAddress>
#include <QList>
#include <functional>
#include <optional>
#include <string>

class QObject;

namespace trv4 {

// The address bind spells, or nullopt when it is no address (a host name, or nothing).
std::optional<QHostAddress> bindLiteral(const std::string& bind);

struct BindAddresses {
  QList<QHostAddress> addresses;  // each once, in the resolver's order; empty when none
  std::string why;                // why there are none, in plain words
};

// Looks the host name up without blocking; done runs on context's thread with what it names,
// and never once context is gone.
void lookUpBind(const std::string& name, QObject* context,
                std::function<void(const BindAddresses&)> done);

}  // namespace trv4

// The names this server answers to, so that a page of another site cannot reach it through a
// name of its own that resolves to this PC: a request's Host and a page's Origin must name one of
// the addresses listened on (on an address for any, every address of this PC), the bind host name
// of TRV4NET.INI, "localhost" or a name of [http] hosts=; a port they name must be the server's.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <string>
#include <vector>

namespace trv4 {

class ServedNames {
 public:
  ServedNames() = default;
  // names: the bind host name (when it is one) and the hosts= names, as written.
  ServedNames(QList<QHostAddress> addresses, const std::vector<std::string>& names, quint16 port);

  // A Host header's value: "name", "name:port", "1.2.3.4:port" or "[v6]:port".
  bool acceptsHost(const QByteArray& host) const;
  // A browser's Origin, "http://name:port" (port 80 when it names none).
  bool acceptsOrigin(const QString& origin) const;

 private:
  bool servedHost(QString host) const;

  QList<QHostAddress> addresses_;
  QStringList names_;  // lower case, without a trailing dot
  bool any_ = false;   // listening on an address for any: every address of this PC is served
  // This PC's addresses, read again at most once a second when a request names one not among them.
  mutable QList<QHostAddress> own_;
  mutable QElapsedTimer ownRead_;
  quint16 port_ = 0;
};

}  // namespace trv4

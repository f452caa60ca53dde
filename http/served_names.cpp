#include "http/served_names.h"

#include <QNetworkInterface>
#include <QUrl>
#include <algorithm>
#include <cctype>

namespace trv4 {

namespace {

// A name or address as a Host may spell it: letters, digits and - . : [ ] only, which leaves
// no user part, path or blank for the URL reader to find.
bool plainAuthority(const QByteArray& text) {
  if (text.isEmpty()) return false;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '-' && c != '.' && c != ':' && c != '[' && c != ']') return false;
  }
  return true;
}

QString plainName(QString name) {
  name = name.toLower();
  if (name.endsWith(QLatin1Char('.'))) name.chop(1);
  return name;
}

}  // namespace

ServedNames::ServedNames(QList<QHostAddress> addresses, const std::vector<std::string>& names,
                         quint16 port)
    : addresses_(std::move(addresses)), port_(port) {
  names_ << QStringLiteral("localhost");
  for (const std::string& name : names) {
    QString n = QString::fromStdString(name);
    if (n.startsWith(QLatin1Char('[')) && n.endsWith(QLatin1Char(']'))) n = n.mid(1, n.size() - 2);
    const QHostAddress address(n);
    if (!address.isNull())
      addresses_ << address;
    else
      names_ << plainName(n);
  }
  for (const QHostAddress& a : addresses_)
    any_ =
        any_ || a == QHostAddress::Any || a == QHostAddress::AnyIPv4 || a == QHostAddress::AnyIPv6;
}

bool ServedNames::servedHost(QString host) const {
  host = plainName(host);
  if (host.isEmpty()) return false;
  const QHostAddress address(host);
  if (address.isNull()) return names_.contains(host);
  const auto same = [&](const QHostAddress& a) {
    return a.isEqual(address, QHostAddress::TolerantConversion);
  };
  if (std::any_of(addresses_.begin(), addresses_.end(), same)) return true;
  if (!any_) return false;
  if (std::any_of(own_.begin(), own_.end(), same)) return true;
  if (ownRead_.isValid() && ownRead_.elapsed() < 1000) return false;
  own_ = QNetworkInterface::allAddresses();
  ownRead_.start();
  return std::any_of(own_.begin(), own_.end(), same);
}

bool ServedNames::acceptsHost(const QByteArray& host) const {
  if (!plainAuthority(host)) return false;
  QUrl url;
  url.setScheme(QStringLiteral("http"));
  url.setAuthority(QString::fromLatin1(host), QUrl::StrictMode);
  if (!url.isValid() || !url.userInfo().isEmpty()) return false;
  const int port = url.port(-1);
  if (port != -1 && port != port_) return false;
  return servedHost(url.host());
}

bool ServedNames::acceptsOrigin(const QString& origin) const {
  const QUrl url(origin, QUrl::StrictMode);
  if (!url.isValid() || url.scheme() != QLatin1String("http") || !url.userInfo().isEmpty() ||
      !plainAuthority(url.authority().toLatin1()))
    return false;
  return url.port(80) == port_ && servedHost(url.host());
}

}  // namespace trv4

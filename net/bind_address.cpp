#include "net/bind_address.h"

#include <QHostInfo>
#include <QObject>

namespace trv4 {

std::optional<QHostAddress> bindLiteral(const std::string& bind) {
  QHostAddress address;
  if (bind.empty() || !address.setAddress(QString::fromStdString(bind))) return std::nullopt;
  return address;
}

void lookUpBind(const std::string& name, QObject* context,
                std::function<void(const BindAddresses&)> done) {
  QHostInfo::lookupHost(
      QString::fromStdString(name), context, [done = std::move(done)](const QHostInfo& info) {
        BindAddresses found;
        for (const QHostAddress& a : info.addresses())
          if (!found.addresses.contains(a)) found.addresses.append(a);
        if (found.addresses.isEmpty())
          found.why = info.error() == QHostInfo::NoError ? "the name has no address"
                                                         : info.errorString().toStdString();
        done(found);
      });
}

}  // namespace trv4

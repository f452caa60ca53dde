#include "tests/support/http_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <memory>

namespace trv4::test {

bool runUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  return done();
}

QByteArray HttpReply::header(const QByteArray& name) const {
  for (const auto& [key, value] : headers)
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
  return {};
}

struct HttpClient::Pending::Data {
  QPointer<QNetworkReply> reply;
  bool finished = false;
  HttpReply answer;
};

bool HttpClient::Pending::finished() const {
  return data_->finished;
}

HttpReply HttpClient::Pending::reply() const {
  return data_->answer;
}

void HttpClient::Pending::abort() {
  if (data_->reply) data_->reply->abort();
}

HttpClient::Pending::~Pending() {
  if (data_ && data_->reply) data_->reply->deleteLater();
}

HttpClient::Pending HttpClient::start(const QByteArray& verb, const QString& path,
                                      const QByteArray& body, const QByteArray& authorization) {
  QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path)));
  if (!authorization.isEmpty()) request.setRawHeader("Authorization", authorization);
  if (!body.isEmpty()) request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
  Pending pending;
  pending.data_ = std::make_shared<Pending::Data>();
  QNetworkReply* reply = nam_.sendCustomRequest(request, verb, body);
  pending.data_->reply = reply;
  QObject::connect(reply, &QNetworkReply::finished, reply, [data = pending.data_, reply] {
    data->finished = true;
    data->answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    data->answer.body = reply->readAll();
    data->answer.headers = reply->rawHeaderPairs();
  });
  return pending;
}

HttpClient::Pending HttpClient::startPost(const QString& path, const QByteArray& body,
                                          const QByteArray& authorization) {
  return start("POST", path, body, authorization);
}

HttpReply HttpClient::get(const QString& path, const QByteArray& authorization) {
  Pending p = start("GET", path, {}, authorization);
  runUntil([&] { return p.finished(); });
  return p.reply();
}

HttpReply HttpClient::send(const QByteArray& verb, const QString& path) {
  Pending p = start(verb, path, {}, {});
  runUntil([&] { return p.finished(); });
  return p.reply();
}

HttpReply HttpClient::post(const QString& path, const QByteArray& body,
                           const QByteArray& authorization) {
  Pending p = start("POST", path, body, authorization);
  runUntil([&] { return p.finished(); });
  return p.reply();
}

RawExchange rawExchange(quint16 port, const QByteArray& request, int limitMs) {
  RawExchange out;
  QTcpSocket socket;
  QElapsedTimer clock;
  clock.start();
  socket.connectToHost(QHostAddress::LocalHost, port);
  bool closed = false;
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
  if (!runUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, limitMs))
    return out;
  if (!request.isEmpty()) socket.write(request);
  runUntil(
      [&] {
        out.received += socket.readAll();
        return closed;
      },
      limitMs);
  out.received += socket.readAll();
  out.closed = closed;
  if (closed) out.closedAfterMs = static_cast<int>(clock.elapsed());
  if (out.received.startsWith("HTTP/1.1 ")) out.status = out.received.mid(9, 3).toInt();
  return out;
}

RawConnection::RawConnection(quint16 port, bool reads, const QHostAddress& from)
    : socket_(std::make_unique<QTcpSocket>()) {
  QTcpSocket* s = socket_.get();
  QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { received += s->readAll(); });
  QObject::connect(s, &QTcpSocket::disconnected, s, [this, s] {
    if (s->isOpen()) received += s->readAll();  // closed already when the server reset it
    closed = true;
  });
  s->bind(from, 0);
  if (!reads) s->setReadBufferSize(1);
  s->connectToHost(QHostAddress::LocalHost, port);
}

RawConnection::~RawConnection() {
  socket_->disconnect();
}

bool RawConnection::waitConnected(int limitMs) {
  return runUntil([&] { return socket_->state() == QAbstractSocket::ConnectedState || closed; },
                  limitMs) &&
         !closed;
}

void RawConnection::write(const QByteArray& bytes) {
  if (!closed && !bytes.isEmpty()) socket_->write(bytes);  // sent once connected
}

void RawConnection::startReading() {
  socket_->setReadBufferSize(0);
  received += socket_->readAll();
}

QList<int> RawConnection::statuses() const {
  QList<int> out;
  for (qsizetype at = received.indexOf("HTTP/1.1 "); at != -1;
       at = received.indexOf("HTTP/1.1 ", at + 1))
    out.append(received.mid(at + 9, 3).toInt());
  return out;
}

}  // namespace trv4::test

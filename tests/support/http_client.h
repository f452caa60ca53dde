// HTTP as a client on 127.0.0.1 sees it, for the tests and benchmarks of the HTTP server: Qt's
// network access manager for well-formed requests, a raw socket for everything else. Every wait
// runs the event loop (the server may be in the same process) and has a limit.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QList>
#include <QNetworkAccessManager>
#include <QPair>
#include <QString>
#include <QTcpSocket>
#include <functional>
#include <memory>

namespace trv4::test {

// Runs the Qt event loop until done() holds or limitMs of real time pass; done() once more.
bool runUntil(const std::function<bool()>& done, int limitMs = 10000);

struct HttpReply {
  int status = 0;  // 0: no answer came
  QByteArray body;
  QList<QPair<QByteArray, QByteArray>> headers;
  QByteArray header(const QByteArray& name) const;
  QJsonDocument json() const { return QJsonDocument::fromJson(body); }
};

class HttpClient {
 public:
  explicit HttpClient(quint16 port) : port_(port) {}
  // authorization: the header's whole value ("Bearer ..."); none when empty.
  HttpReply get(const QString& path, const QByteArray& authorization = {});
  HttpReply post(const QString& path, const QByteArray& body = {},
                 const QByteArray& authorization = {});
  // Any method (verb), with no body.
  HttpReply send(const QByteArray& verb, const QString& path);

  // A request started and left running; finished() once its answer is in.
  class Pending {
   public:
    Pending() = default;
    Pending(Pending&&) = default;
    Pending& operator=(Pending&&) = default;
    ~Pending();
    bool finished() const;
    HttpReply reply() const;
    void abort();

   private:
    friend class HttpClient;
    struct Data;
    std::shared_ptr<Data> data_;
  };
  Pending startPost(const QString& path, const QByteArray& body, const QByteArray& authorization);

 private:
  Pending start(const QByteArray& verb, const QString& path, const QByteArray& body,
                const QByteArray& authorization);
  quint16 port_;
  QNetworkAccessManager nam_;
};

// Opens a connection, writes request (nothing when empty) and reads until the server closes it
// or limitMs pass. closed: the server closed it; status: from the first status line, 0 if none.
struct RawExchange {
  QByteArray received;
  bool closed = false;
  int status = 0;
  int closedAfterMs = -1;
};
RawExchange rawExchange(quint16 port, const QByteArray& request, int limitMs = 5000);

// A connection left open: what is written goes as is, what comes back is kept. A client that
// does not read takes one byte and leaves the rest to the network.
class RawConnection {
 public:
  // from: the local address it connects from (127.0.0.2 is another client on this PC).
  explicit RawConnection(quint16 port, bool reads = true,
                         const QHostAddress& from = QHostAddress::LocalHost);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  bool waitConnected(int limitMs = 5000);
  void write(const QByteArray& bytes);
  void startReading();
  // The status of every answer in received, in order.
  QList<int> statuses() const;

  QByteArray received;
  bool closed = false;

 private:
  std::unique_ptr<QTcpSocket> socket_;
};

}  // namespace trv4::test

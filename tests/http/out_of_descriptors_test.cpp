// The HTTP listener while the process has no descriptor left (all taken by /dev/null).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "http/connection_guard.h"
#include "net/accept_backoff.h"
#include "net/bound_listeners.h"
#include "tests/support/virtual_toolkit.h"

namespace trv4::test {
namespace {

// Sleeps in the event loop until done() holds or limitMs pass (it looks every 20 ms).
bool waitUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  QTimer look;
  look.start(20);
  while (!done() && clock.elapsed() < limitMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

int64_t cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000 + t.tv_usec / 1000; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

// Uses up every descriptor the process may open (at most 512 of them) but one, for the client.
struct AllButOneDescriptorTaken {
  AllButOneDescriptorTaken() {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lower = saved;
    lower.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &lower);
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) taken.push_back(fd);
    close(taken.back());
    taken.pop_back();
  }
  ~AllButOneDescriptorTaken() {
    release();
    setrlimit(RLIMIT_NOFILE, &saved);
  }
  void release() {
    for (int fd : taken) close(fd);
    taken.clear();
  }
  rlimit saved{};
  std::vector<int> taken;
};

TEST(OutOfDescriptors, TheListenerAcceptsAgainOnceDescriptorsAreFreeAndNeverSpinsMeanwhile) {
  VirtualToolkit tk;
  // The HTTP server's listener, opened as the server opens it.
  std::unique_ptr<ConnectionGuard> listener;
  QObject context;
  ASSERT_EQ(listenWhereBound<ConnectionGuard>(
                {"http", "HTTP", "127.0.0.1", 0}, &context, tk,
                [](const QHostAddress& address, quint16 port, std::string*) {
                  auto guard = std::make_unique<ConnectionGuard>(GuardLimits{});
                  return guard->listen(address, port) ? std::move(guard) : nullptr;
                },
                [&](std::vector<std::unique_ptr<ConnectionGuard>> guards,
                    const QList<QHostAddress>&, quint16) { listener = std::move(guards.at(0)); }),
            "");
  ASSERT_NE(listener, nullptr);
  // The sanitizer build checks a type the first time it meets it, and needs a descriptor for
  // that: the waiting and the listener's failure path meet theirs here, while there are some.
  emit listener->acceptError(QAbstractSocket::SocketResourceError);
  waitUntil([] { return false; }, 2 * AcceptBackoff::kFirstPauseMs);  // it resumes once
  int failures = 0, accepted = 0;
  QObject::connect(listener.get(), &QTcpServer::acceptError, [&] { ++failures; });
  QObject::connect(listener.get(), &QTcpServer::newConnection, [&] { ++accepted; });

  AllButOneDescriptorTaken taken;
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(listener->serverPort());
  // The kernel completes the connection; the listener cannot take it.
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  // It keeps trying, a few times a second at most, and sleeps in between.
  ASSERT_TRUE(waitUntil([&] { return failures >= 1; }, 5000));
  const int64_t cpuBefore = cpuMs();
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(waitUntil([&] { return failures >= 4; }, 10000)) << failures << " failed tries";
  EXPECT_GE(clock.elapsed(), 300) << failures << " failed tries";
  EXPECT_LT(cpuMs() - cpuBefore, 150);
  EXPECT_EQ(accepted, 0);
  taken.release();
  EXPECT_TRUE(waitUntil([&] { return accepted == 1; }, 5000));
  close(client);
}

}  // namespace
}  // namespace trv4::test

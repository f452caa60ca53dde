// Debian's chromium without a screen, driven over its DevTools pipe (--remote-debugging-pipe,
// messages of JSON ended by a NUL byte on descriptors 3 and 4): a page opened at an address and
// JavaScript evaluated in it, for the end-to-end tests of the dashboard. Every wait has a limit.
#pragma once

#include <sys/types.h>

#include <QJsonObject>
#include <QJsonValue>
#include <functional>
#include <optional>
#include <string>

#include "tools/scalesim/sim_session.h"

namespace trv4::test {

class HeadlessBrowser {
 public:
  // Starts chromium (TRV4_CHROMIUM, else chromium on the PATH) with a profile of its own.
  HeadlessBrowser();
  ~HeadlessBrowser();
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  // False, with why(), when chromium could not start or answer.
  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }

  // Opens url in a new tab and attaches to it; false when it could not.
  bool open(const std::string& url);
  // The value of a JavaScript expression in the page; nullopt when it threw or no answer came.
  std::optional<QJsonValue> evaluate(const std::string& expression, int limitMs = 5000);
  // Evaluates expression every 100 ms until it is true, at most limitMs. True when it was.
  bool waitUntil(const std::string& expression, int limitMs);
  // The page's text content, for messages.
  std::string text();

  // Runs while a wait has nothing to read, at most the milliseconds given: a test that serves
  // the page from its own process runs its event loop here. Unset, the wait sleeps.
  std::function<void(int ms)> whileWaiting;

 private:
  // Sends a DevTools command and waits for its answer; nullopt on time-out or error.
  std::optional<QJsonObject> call(const QString& method, const QJsonObject& params,
                                  int limitMs = 10000);

  scalesim::TempDir profile_;
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string received_;
  int nextId_ = 0;
  QString session_;
  std::string why_;
};

}  // namespace trv4::test

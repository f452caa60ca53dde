#include "tests/support/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace trv4::test {

namespace {

// A descriptor moved above 4, so that placing the pipe at 3 and 4 never overwrites it.
int high(int fd) {
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

HeadlessBrowser::HeadlessBrowser() {
  signal(SIGPIPE, SIG_IGN);  // a browser that ended fails the write instead
  const char* configured = std::getenv("TRV4_CHROMIUM");
  const std::string program = configured != nullptr ? configured : "chromium";
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) {
    why_ = "no pipe for chromium";
    return;
  }
  const int browserReads = high(in[0]), weWrite = high(in[1]);
  const int browserWrites = high(out[1]), weRead = high(out[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, browserReads, 3);
  posix_spawn_file_actions_adddup2(&actions, browserWrites, 4);
  const std::string log = profile_.file("chromium.log");
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // Root in a container has no sandbox to give chromium: the page is this program's own.
  std::vector<std::string> args = {program,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--no-first-run",
                                   "--disable-extensions",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profile_.file("profile"),
                                   "about:blank"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(browserReads);
  close(browserWrites);
  toBrowser_ = weWrite;
  fromBrowser_ = weRead;
  if (spawned != 0) {
    pid_ = -1;
    why_ = program + " could not be started";
    return;
  }
  if (!call("Browser.getVersion", {}, 30000))
    why_ = program + " started but does not answer on its DevTools pipe: " +
           scalesim::readFile(log).substr(0, 2000);
}

HeadlessBrowser::~HeadlessBrowser() {
  if (pid_ > 0) {
    call("Browser.close", {}, 3000);
    const int64_t end = nowMs() + 5000;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (nowMs() > end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      poll(nullptr, 0, 20);
    }
  }
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
}

std::optional<QJsonObject> HeadlessBrowser::call(const QString& method, const QJsonObject& params,
                                                 int limitMs) {
  if (pid_ <= 0) return std::nullopt;
  const int id = ++nextId_;
  QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
  if (!session_.isEmpty() && !method.startsWith("Target.") && !method.startsWith("Browser."))
    message["sessionId"] = session_;
  QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
  bytes.append('\0');
  for (qsizetype sent = 0; sent < bytes.size();) {
    const ssize_t n = write(toBrowser_, bytes.constData() + sent, bytes.size() - sent);
    if (n <= 0) return std::nullopt;
    sent += n;
  }
  const int64_t end = nowMs() + limitMs;
  while (true) {
    for (std::size_t nul; (nul = received_.find('\0')) != std::string::npos;) {
      const QJsonObject answer =
          QJsonDocument::fromJson(QByteArray::fromStdString(received_.substr(0, nul))).object();
      received_.erase(0, nul + 1);
      if (answer["id"].toInt() != id) continue;  // an event, or an answer given up on
      if (answer.contains("error")) return std::nullopt;
      return answer["result"].toObject();
    }
    const int64_t left = end - nowMs();
    if (left <= 0) return std::nullopt;
    pollfd p{fromBrowser_, POLLIN, 0};
    if (poll(&p, 1, whileWaiting ? 0 : static_cast<int>(left)) <= 0) {
      if (whileWaiting) whileWaiting(static_cast<int>(std::min<int64_t>(left, 10)));
      continue;
    }
    char buf[65536];
    const ssize_t n = read(fromBrowser_, buf, sizeof buf);
    if (n <= 0) return std::nullopt;  // chromium ended
    received_.append(buf, static_cast<std::size_t>(n));
  }
}

bool HeadlessBrowser::open(const std::string& url) {
  const auto target = call("Target.createTarget", {{"url", QString::fromStdString(url)}});
  if (!target) return false;
  const auto attached =
      call("Target.attachToTarget", {{"targetId", (*target)["targetId"]}, {"flatten", true}});
  if (!attached) return false;
  session_ = (*attached)["sessionId"].toString();
  return !session_.isEmpty();
}

std::optional<QJsonValue> HeadlessBrowser::evaluate(const std::string& expression, int limitMs) {
  const auto result =
      call("Runtime.evaluate",
           {{"expression", QString::fromStdString(expression)}, {"returnByValue", true}}, limitMs);
  if (!result || result->contains("exceptionDetails")) return std::nullopt;
  return (*result)["result"].toObject()["value"];
}

bool HeadlessBrowser::waitUntil(const std::string& expression, int limitMs) {
  const int64_t end = nowMs() + limitMs;
  do {
    const std::optional<QJsonValue> v = evaluate(expression);
    if (v && v->toBool()) return true;
    if (whileWaiting) {
      for (const int64_t until = nowMs() + 100; nowMs() < until;) whileWaiting(10);
    } else {
      poll(nullptr, 0, 100);
    }
  } while (nowMs() < end);
  return false;
}

std::string HeadlessBrowser::text() {
  const auto v = evaluate("document.body ? document.body.innerText : ''");
  return v ? v->toString().toStdString() : "(no page)";
}

}  // namespace trv4::test

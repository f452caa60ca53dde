// trv4-bare-poller: the least a process can do to keep the program's status cycle on a line, as a
// yardstick for the link benchmark. It puts the same status requests on the line as the program,
// in the same order and at the same times, and does nothing with the replies: no filing, no
// display, no recording. Only open, termios, poll, read and write; it sleeps in poll() while it
// waits.
//
// The cycle follows the program's link: a request is sent and the scan delay counted from then;
// the reply time-out runs until the first character, the character time-out after each one; a
// status reply read up to its ETX ends the exchange and the next scale is asked at once; an
// exchange ended by time-out waits for the scan delay (one more delay for each that found the
// exchange still open). The line's echo of the request is passed over, as the program does.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/link_state.h"
#include "link/port_settings.h"
#include "link/transliterate.h"

namespace {

double nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// poll()'s time-out for a deadline, rounded up so that a wait never ends just short of it.
int msUntil(double deadline) {
  return std::max(0, static_cast<int>(std::ceil(deadline - nowMs())));
}

bool setLine(int fd, const trv4::LineSettings& s) {
  static const struct {
    int baud;
    speed_t code;
  } kRates[] = {{110, B110},       {300, B300},      {600, B600},       {1200, B1200},
                {2400, B2400},     {4800, B4800},    {9600, B9600},     {19200, B19200},
                {38400, B38400},   {57600, B57600},  {115200, B115200}, {230400, B230400},
                {460800, B460800}, {921600, B921600}};
  const auto* rate = std::find_if(std::begin(kRates), std::end(kRates),
                                  [&](const auto& r) { return r.baud == s.baud; });
  termios tio{};
  if (rate == std::end(kRates) || tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  cfsetspeed(&tio, rate->code);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= (s.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
  if (s.parity != 'N') tio.c_cflag |= PARENB | (s.parity == 'O' ? PARODD : 0);
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
  return true;
}

// Takes the frames out of what was read so far. True when one of them ends the exchange: a
// status reply long enough for the program, or any other frame but the echo of the request.
bool replyIn(std::string& rx, const std::string& request) {
  for (std::size_t etx = rx.find(trv4::ETX); etx != std::string::npos; etx = rx.find(trv4::ETX)) {
    const std::size_t stx = rx.find(trv4::STX);
    bool ends = false;
    if (stx != std::string::npos && stx < etx && etx - stx > 4) {
      const std::string_view frame = std::string_view(rx).substr(stx, etx - stx + 1);
      ends = frame != request && (frame[2] != '?' || frame.size() > 8);
    }
    rx.erase(0, etx + 1);
    if (ends) return true;
  }
  return false;
}

const char kUsage[] =
    "usage: trv4-bare-poller --port PATH [options]\n"
    "  --port PATH          the serial port (or pseudo-terminal) to poll on\n"
    "  --scales LIST        addresses polled in turn, e.g. ABCDEFGH (default ABCDEFGH)\n"
    "  --settings TEXT      line settings, e.g. 9600,E,7,1 (default 9600,E,7,1)\n"
    "  --seconds N          stop after N seconds (default 0: run until stopped)\n"
    "  --reply-timeout MS   wait for a status reply's first character (default %d)\n"
    "  --scan-delay MS      from a request to the next one after a time-out (default %d)\n"
    "  --char-timeout MS    wait after each character of a reply (default %d)\n";

}  // namespace

int main(int argc, char** argv) {
  const trv4::LinkState defaults;
  std::string port, scales = "ABCDEFGH", settingsText = "9600,E,7,1";
  double seconds = 0;
  int replyTimeout = defaults.StatusReplyTimeout, scanDelay = defaults.StatusScanDelay,
      charTimeout = defaults.CharTimeout;
  auto usage = [&] {
    std::fprintf(stderr, kUsage, defaults.StatusReplyTimeout, defaults.StatusScanDelay,
                 defaults.CharTimeout);
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!v) return usage();
    ++i;
    if (a == "--port") {
      port = v;
    } else if (a == "--scales") {
      scales = v;
    } else if (a == "--settings") {
      settingsText = v;
    } else if (a == "--seconds") {
      seconds = std::atof(v);
    } else if (a == "--reply-timeout") {
      replyTimeout = std::atoi(v);
    } else if (a == "--scan-delay") {
      scanDelay = std::atoi(v);
    } else if (a == "--char-timeout") {
      charTimeout = std::atoi(v);
    } else {
      return usage();
    }
  }
  std::string error;
  const auto settings = trv4::parseLineSettings(settingsText, &error);
  if (!settings) {
    std::fprintf(stderr, "trv4-bare-poller: %s\n", error.c_str());
    return 2;
  }
  // The requests, built as the program builds a status request.
  std::vector<std::string> requests;
  for (char c : scales) {
    if (trv4::scaleIndex(std::string(1, c)) < 0) {
      std::fprintf(stderr, "trv4-bare-poller: '%c' is no scale address (A to ^)\n", c);
      return 2;
    }
    const std::string head = trv4::TransliterateGreek(std::string(1, trv4::STX) + c + "?0");
    requests.push_back(head + trv4::FrameBcc(head) + trv4::ETX);
  }
  if (port.empty() || requests.empty()) return usage();
  const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 || !setLine(fd, *settings)) {
    std::fprintf(stderr, "trv4-bare-poller: cannot open %s at %s: %s\n", port.c_str(),
                 settingsText.c_str(), std::strerror(errno));
    return 1;
  }
  // As the program arms its timers: never with less than 1 ms.
  replyTimeout = std::max(replyTimeout, 1);
  scanDelay = std::max(scanDelay, 1);
  charTimeout = std::max(charTimeout, 1);

  const double end = seconds > 0 ? nowMs() + seconds * 1e3 : INFINITY;
  long sent = 0, answered = 0;
  std::string rx;
  char buf[256];
  for (std::size_t next = 0; nowMs() < end; next = (next + 1) % requests.size()) {
    const std::string& request = requests[next];
    tcflush(fd, TCIFLUSH);  // what is still waiting belongs to an earlier exchange
    rx.clear();
    const double sentAt = nowMs();
    if (!writeAll(fd, request)) break;
    ++sent;
    double deadline = sentAt + replyTimeout;
    bool replied = false;
    while (!replied) {
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, msUntil(deadline));
      if (ready == 0) break;  // time-out
      if (ready < 0) continue;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
        continue;
      }
      rx.append(buf, static_cast<std::size_t>(n));
      deadline = nowMs() + charTimeout;
      replied = replyIn(rx, request);
    }
    if (replied) {
      ++answered;
      continue;
    }
    double nextAt = sentAt + scanDelay;
    while (nextAt < nowMs()) nextAt += scanDelay;
    poll(nullptr, 0, msUntil(nextAt));
  }
  std::printf("%ld requests, %ld answered\n", sent, answered);
  close(fd);
  return 0;
}

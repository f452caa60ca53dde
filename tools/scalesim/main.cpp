// trv4-scalesim: serves the simulated scale network on a pseudo-terminal, so the TRV-4 program
// (or anything else that opens a serial port) can talk to it. A symbolic link (./COM1 unless told
// otherwise) points at the terminal while the simulator runs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/scalesim/scale_model.h"
#include "tools/scalesim/scale_setup.h"

using trv4::scalesim::LineOutput;
using trv4::scalesim::NetworkOptions;
using trv4::scalesim::ReceivedFrame;
using trv4::scalesim::ScaleNetwork;

namespace {

volatile sig_atomic_t gStop = 0;
void onSignal(int) {
  gStop = 1;
}

int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

const char kUsageBeforeFaults[] =
    "usage: trv4-scalesim [options]\n"
    "  --scales LIST     addresses on the line, e.g. A-H, A,C,E or A-C,K (default A-H)\n"
    "  --echo            the line returns every byte sent to it, ahead of the reply\n"
    "  --delay MS        time from a request's last byte to the reply (default 2)\n"
    "  --jitter MS       each reply's delay is drawn from --delay to --delay + MS, from the seed\n"
    "                    (default 0)\n"
    "  --baud N          the scales listen at this bit rate only (in any frame format), and\n"
    "                    every character takes its time on the line (default: they hear any)\n"
    "  --format F        frame format for the bit rate, e.g. 7E1, 8N1 (default 7E1)\n"
    "  --burst N         with --baud, the characters reach the terminal in groups of up to N, as\n"
    "                    from a receive FIFO or a USB adapter: a group when N are complete or\n"
    "                    the line falls quiet, never before its last character is complete\n"
    "                    (default 0: one by one, the hardest case for a reader)\n"
    "  --rate ADDR=BAUD[/FORMAT]\n"
    "                    scale ADDR listens at this rate (and format) only, e.g. K=19200/8N1\n";
const char kUsageAfterFaults[] =
    "  --seed N          seed of weights, faults and jitter (default 1)\n"
    "  --static          weights stay where they are (default: loads change now and then)\n"
    "  --load ADDR=KG    scale ADDR has this load for the whole run, e.g. D=180 (off range)\n"
    "                    or H=-1.5 (negative)\n"
    "  --tare ADDR=KG    scale ADDR starts tared with this tare (net weights), e.g. C=2.5\n"
    "  --swing ADDR      scale ADDR's load swings for the whole run: its weight goes 0.4 kg up\n"
    "                    and down and never settles, e.g. B\n"
    "  --text ADDR=TEXT  scale ADDR's display shows TEXT (UTF-8, six characters of\n"
    "                    Windows-1253) for the whole run, e.g. E=ΖΥΓΟΣ\n"
    "  --pin ADDR=PIN    scale ADDR starts PIN-locked with this six-digit PIN, e.g. H=123456:\n"
    "                    writes and store get NAK until J0 and the PIN\n"
    "  --cal-lock ADDR   scale ADDR starts with its calibration lock set, e.g. G\n"
    "  --reply ADDR:REQUEST=KIND\n"
    "                    scale ADDR answers REQUEST (d, s1, p1-p3, q1, q2, f1-f4, i0-i4, S1, S2,\n"
    "                    P1-P3, Q1, Q2, W, J0, J1) wrongly, KIND one of: none (no answer),\n"
    "                    short (a frame one character too short for the program), wrong (the\n"
    "                    answer to another request), nak (NAK; the request is not carried out);\n"
    "                    e.g. B:p1=short or C:Q1=nak\n"
    "  --corners ADDR=N  scale ADDR's corner calibrations ask for N corners (1 to 9; default:\n"
    "                    its load cells in p1), e.g. B=3\n"
    "  --skip-corner ADDR=N\n"
    "                    scale ADDR never asks for corner N (1 to 9): after corner N-1 it asks\n"
    "                    for corner N+1, e.g. B=2\n"
    "  --cal-error ADDR=E\n"
    "                    scale ADDR answers its first calibration command with ERR 90 or ERR 91\n"
    "                    (E 90 or 91), shown until ACK; later ones calibrate, e.g. B=90\n"
    "  --reply-delay ADDR=MS\n"
    "                    scale ADDR answers MS after a request's last byte instead of --delay\n"
    "                    (--jitter still added), e.g. C=80: a reply after the program's time-out,\n"
    "                    while it asks another scale; a reply that would overlap one scheduled\n"
    "                    before waits for the line\n"
    "                    --load, --tare, --swing, --text, --pin, --cal-lock, --reply,\n"
    "                    --corners, --skip-corner, --cal-error, --rate and --reply-delay may be\n"
    "                    given several times\n"
    "  --work-ms MS      how long a calibration step shows its working text before it ends\n"
    "                    (default 800): time to try Stop by hand\n"
    "  --link PATH       symbolic link to the terminal (default ./COM1)\n"
    "  --log FILE        record every frame received and every write, with CLOCK_MONOTONIC times\n";

// The usage text, its --fault lines from the table of fault kinds.
const std::string kUsage = kUsageBeforeFaults + trv4::scalesim::faultUsage() + kUsageAfterFaults;

bool parseNumber(const char* text, double* out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < 0) return false;
  *out = v;
  return true;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", c);
    out += buf;
  }
  return out;
}

// The bit rate and frame format ("7E1") the program set its end of the terminal to, so scales
// set to another rate stay silent; 0 for a rate the table does not know.
void readLineSettings(int fd, ScaleNetwork& net) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  static const struct {
    speed_t code;
    int baud;
  } kRates[] = {{B300, 300},     {B600, 600},      {B1200, 1200},   {B2400, 2400},
                {B4800, 4800},   {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
                {B57600, 57600}, {B115200, 115200}};
  int baud = 0;
  for (const auto& r : kRates)
    if (cfgetospeed(&tio) == r.code) baud = r.baud;
  std::string format = (tio.c_cflag & CSIZE) == CS7 ? "7" : "8";
  format += !(tio.c_cflag & PARENB) ? 'N' : (tio.c_cflag & PARODD) ? 'O' : 'E';
  format += (tio.c_cflag & CSTOPB) ? '2' : '1';
  net.setLineSettings(baud, format);
}

}  // namespace

int main(int argc, char** argv) {
  NetworkOptions options;
  std::string linkPath = "./COM1";
  std::string logPath;
  std::string format = "7E1";
  double workMs = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "trv4-scalesim: %s needs a value\n%s", name, kUsage.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    std::string error;
    double number = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage.c_str(), stdout);
      return 0;
    } else if (a == "--scales") {
      options.addresses = trv4::scalesim::parseAddresses(value("--scales"), &error);
      if (options.addresses.empty()) {
        std::fprintf(stderr, "trv4-scalesim: %s\n", error.c_str());
        return 2;
      }
    } else if (a == "--echo") {
      options.echo = true;
    } else if (a == "--static") {
      options.movingWeights = false;
    } else if (a == "--delay") {
      if (!parseNumber(value("--delay"), &number) || number > 60000) {
        std::fprintf(stderr, "trv4-scalesim: --delay takes milliseconds from 0 to 60000\n");
        return 2;
      }
      options.replyDelayUs = static_cast<int64_t>(number * 1000);
    } else if (a == "--jitter") {
      if (!parseNumber(value("--jitter"), &number) || number > 60000) {
        std::fprintf(stderr, "trv4-scalesim: --jitter takes milliseconds from 0 to 60000\n");
        return 2;
      }
      options.replyJitterUs = static_cast<int64_t>(number * 1000);
    } else if (a == "--baud") {
      if (!parseNumber(value("--baud"), &number) || number < 50 || number > 4'000'000) {
        std::fprintf(stderr, "trv4-scalesim: --baud takes a bit rate from 50 to 4000000\n");
        return 2;
      }
      options.baud = static_cast<int>(number);
    } else if (a == "--burst") {
      if (!parseNumber(value("--burst"), &number) || number != std::floor(number) ||
          number > 4096) {
        std::fprintf(stderr, "trv4-scalesim: --burst takes a whole number from 0 to 4096\n");
        return 2;
      }
      options.burst = static_cast<int>(number);
    } else if (a == "--format") {
      format = value("--format");
      if (trv4::scalesim::bitsPerCharacter(format) == 0) {
        std::fprintf(stderr, "trv4-scalesim: bad frame format \"%s\" (e.g. 7E1, 8N1)\n",
                     format.c_str());
        return 2;
      }
    } else if (a == "--fault") {
      auto fault = trv4::scalesim::parseFault(value("--fault"), &error);
      if (!fault) {
        std::fprintf(stderr, "trv4-scalesim: %s\n", error.c_str());
        return 2;
      }
      options.faults.push_back(*fault);
    } else if (a == "--seed") {
      if (!parseNumber(value("--seed"), &number)) {
        std::fprintf(stderr, "trv4-scalesim: --seed takes a whole number\n");
        return 2;
      }
      options.seed = static_cast<uint64_t>(number);
    } else if (a == "--load" || a == "--tare" || a == "--swing" || a == "--text" || a == "--pin" ||
               a == "--cal-lock" || a == "--reply" || a == "--corners" || a == "--skip-corner" ||
               a == "--cal-error" || a == "--rate" || a == "--reply-delay") {
      if (!trv4::scalesim::parseScaleSetup(a, value(a.c_str()), &options, &error)) {
        std::fprintf(stderr, "trv4-scalesim: %s\n", error.c_str());
        return 2;
      }
    } else if (a == "--work-ms") {
      if (!parseNumber(value("--work-ms"), &workMs) || workMs > 600000) {
        std::fprintf(stderr, "trv4-scalesim: --work-ms needs 0 to 600000\n");
        return 2;
      }
    } else if (a == "--link") {
      linkPath = value("--link");
    } else if (a == "--log") {
      logPath = value("--log");
    } else {
      std::fprintf(stderr, "trv4-scalesim: unknown option %s\n%s", a.c_str(), kUsage.c_str());
      return 2;
    }
  }
  options.bitsPerChar = trv4::scalesim::bitsPerCharacter(format);
  for (const auto& [address, setup] : options.setups) {
    if (!options.addresses.count(address)) {
      std::fprintf(stderr, "trv4-scalesim: scale %c is set up but not on the line (--scales)\n",
                   address);
      return 2;
    }
  }

  FILE* log = nullptr;
  if (!logPath.empty()) {
    log = std::fopen(logPath.c_str(), "w");
    if (!log) {
      std::fprintf(stderr, "trv4-scalesim: cannot write %s: %s\n", logPath.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::fprintf(stderr, "trv4-scalesim: no pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  const char* slaveName = ptsname(master);
  std::string slavePath = slaveName ? slaveName : "";
  // Holding the terminal's other end open keeps the line alive while no program has it open
  // (else the master reports a hang-up on every poll), and lets us put it in raw mode.
  int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) {
    std::fprintf(stderr, "trv4-scalesim: cannot open %s: %s\n", slavePath.c_str(),
                 std::strerror(errno));
    return 1;
  }
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  // A link left behind by an earlier run is replaced; anything else at that path is not.
  struct stat st {};
  if (lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "trv4-scalesim: %s exists and is not a symbolic link\n",
                   linkPath.c_str());
      return 1;
    }
    unlink(linkPath.c_str());
  }
  if (symlink(slavePath.c_str(), linkPath.c_str()) != 0) {
    std::fprintf(stderr, "trv4-scalesim: cannot link %s: %s\n", linkPath.c_str(),
                 std::strerror(errno));
    return 1;
  }

  // SIGINT and SIGTERM are only let through while waiting in ppoll, so a stop request is never
  // lost between a check of the flag and the wait.
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);

  const int64_t startUs = monotonicUs();
  ScaleNetwork net(options);
  if (workMs >= 0) net.workingTextUs = static_cast<int64_t>(workMs * 1000);
  int64_t readAtUs = startUs;
  net.onFrame = [&](const ReceivedFrame& f) {
    if (!log) return;
    std::fprintf(log, "RX %.6f %s%s\n", static_cast<double>(readAtUs) / 1e6, hex(f.bytes).c_str(),
                 f.valid ? "" : " BADBCC");
    std::fflush(log);
  };
  if (log) {
    std::fprintf(log, "START %.6f %s\n", static_cast<double>(startUs) / 1e6, slavePath.c_str());
    std::fflush(log);
  }
  std::printf("trv4-scalesim: %s -> %s\n", linkPath.c_str(), slavePath.c_str());
  std::fflush(stdout);

  char buf[4096];
  while (!gStop) {
    int64_t now = monotonicUs() - startUs;
    for (const LineOutput& o : net.takeOutput(now)) {
      // Nobody reading: the line drops what does not fit, as a real line would.
      // Stamped before the write: the program may answer before this process runs again.
      int64_t writeAtUs = monotonicUs();
      ssize_t n = write(master, o.bytes.data(), o.bytes.size());
      if (log && n > 0) {
        std::fprintf(log, "TX %.6f %s\n", static_cast<double>(writeAtUs) / 1e6,
                     hex(o.bytes.substr(0, static_cast<size_t>(n))).c_str());
        std::fflush(log);
      }
    }
    timespec timeout{};
    timespec* timeoutPtr = nullptr;  // nothing scheduled: wait for the line or a signal
    if (auto next = net.nextOutputTime()) {
      int64_t wait = std::max<int64_t>(0, *next - (monotonicUs() - startUs));
      timeout.tv_sec = wait / 1'000'000;
      timeout.tv_nsec = (wait % 1'000'000) * 1000;
      timeoutPtr = &timeout;
    }
    pollfd pfd{master, POLLIN, 0};
    int r = ppoll(&pfd, 1, timeoutPtr, &waitMask);
    if (r < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "trv4-scalesim: poll: %s\n", std::strerror(errno));
      break;
    }
    if (r == 0) continue;
    if (pfd.revents & POLLIN) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) {
        readAtUs = monotonicUs();
        if (options.baud > 0 || !options.setups.empty()) readLineSettings(slave, net);
        net.receive(std::string_view(buf, static_cast<size_t>(n)), readAtUs - startUs);
      }
    } else if (pfd.revents & (POLLHUP | POLLERR)) {
      // Should not happen while we hold the other end; do not spin if it does.
      timespec pause{0, 50'000'000};
      nanosleep(&pause, nullptr);
    }
  }

  unlink(linkPath.c_str());
  if (log) std::fclose(log);
  close(slave);
  close(master);
  return 0;
}

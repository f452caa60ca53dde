#include "tests/e2e/e2e_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace trv4::e2e {

double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool waitFor(const std::function<bool()>& done, int limitMs) {
  double end = monotonicSeconds() + limitMs / 1000.0;
  while (true) {
    if (done()) return true;
    if (monotonicSeconds() >= end) return false;
    timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
  }
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "trv4-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::string& dir, const std::vector<std::string>& env,
                 const std::string& outputName) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string out = dir + "/" + outputName;
  startedAt_ = monotonicSeconds();
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (pid_ < 0) ended_ = true;
}

Process::~Process() {
  if (!running()) return;
  if (!stop(SIGTERM, 1000)) stop(SIGKILL, 1000);
}

bool Process::running() {
  if (ended_) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    ended_ = true;
    status_ = st;
  }
  return !ended_;
}

bool Process::stop(int signal, int waitMs) {
  if (!running()) return true;
  kill(pid_, signal);
  return waitFor([this] { return !running(); }, waitMs);
}

double cpuSeconds(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  // The command name in parentheses may hold blanks: count fields after its closing one.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKb(pid_t pid) {
  std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::string iniText(const std::string& scan, int statusTimeout, int commandTimeout, int statusDelay,
                    int commandDelay, int charTimeout) {
  auto four = [](int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", v);
    return std::string(buf);
  };
  std::string digits = scan;
  digits.resize(30, '0');
  std::string t;
  t += "\"1 ' port nr 1,2,3,4\"\r\n";
  t += "\"9600,N,8,1\"\r\n";
  t += "\"" + four(statusTimeout) + "  ' wait status responce STX\"\r\n";
  t += "\"" + four(commandTimeout) + "  ' wait Command responce stx\"\r\n";
  t += "\"" + four(statusDelay) + "  ' wait for next scan if this scan is a status\"\r\n";
  t += "\"" + four(commandDelay) + "  ' wait for next scan if this scan is a command\"\r\n";
  t += "\"" + four(charTimeout) + "  ' wait character reception\"\r\n";
  t += "\"" + digits + "  ' Scales To Scan\"\r\n";
  return t;
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<LogEntry> readSimLog(const std::string& path) {
  std::vector<LogEntry> out;
  std::istringstream in(readFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    LogEntry e;
    if (!(fields >> kind >> e.at)) continue;
    if (kind == "START") {
      e.kind = LogEntry::kStart;
    } else if (kind == "RX" || kind == "TX") {
      e.kind = kind == "RX" ? LogEntry::kRx : LogEntry::kTx;
      std::string h;
      while (fields >> h) {
        if (h == "BADBCC") {
          e.valid = false;
          break;
        }
        e.bytes += static_cast<char>(std::strtol(h.c_str(), nullptr, 16));
      }
    } else {
      continue;
    }
    out.push_back(e);
  }
  return out;
}

std::vector<LogEntry> received(const std::vector<LogEntry>& log) {
  std::vector<LogEntry> out;
  for (const auto& e : log)
    if (e.kind == LogEntry::kRx) out.push_back(e);
  return out;
}

char addressOf(const std::string& frame) {
  return frame.size() >= 2 ? frame[1] : '?';
}

std::string statusRequest(char address) {
  std::string f = {'\x02', address, '?', '0'};
  unsigned x = 0;
  for (char c : f) x ^= static_cast<unsigned char>(c);
  f += static_cast<char>(48 + (x >> 4));
  f += static_cast<char>(48 + (x & 15));
  f += '\x03';
  return f;
}

std::string simulatorPath() {
  const char* env = std::getenv("TRV4_SCALESIM");
  return env && *env ? env : TRV4_SCALESIM_PATH;
}

std::string programPath() {
  const char* env = std::getenv("TRV4_PROGRAM");
  return env && *env ? env : TRV4_PROGRAM_PATH;
}

namespace {
std::vector<std::string> withLog(std::vector<std::string> args, const std::string& log) {
  args.insert(args.end(), {"--link", "COM1", "--log", log});
  return args;
}
}  // namespace

Simulator::Simulator(const TempDir& dir, std::vector<std::string> args)
    : logPath_(dir.file("sim.log")),
      process_(simulatorPath(), withLog(std::move(args), logPath_), dir.path(), {}, "sim.out") {
  std::string link = dir.file("COM1");
  ready_ = waitFor(
      [&] {
        struct stat st {};
        return lstat(link.c_str(), &st) == 0 && !readFile(logPath_).empty();
      },
      3000);
}

}  // namespace trv4::e2e

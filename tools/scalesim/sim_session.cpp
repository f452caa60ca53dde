#include "tools/scalesim/sim_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace trv4::scalesim {

double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleepSeconds(double seconds) {
  auto whole = static_cast<time_t>(seconds);
  timespec ts{whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
  nanosleep(&ts, nullptr);
}

bool waitFor(const std::function<bool()>& done, int limitMs) {
  double end = monotonicSeconds() + limitMs / 1000.0;
  while (!done()) {
    if (monotonicSeconds() >= end) return false;
    sleepSeconds(0.01);
  }
  return true;
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
  // Each process claims in a scope of its own (a gateway's folder, client id and ports), so that
  // tests running gateways at once with default settings do not clash; `env` may name a shared
  // one.
  static std::atomic<int> started = 0;
  std::string scope =
      "TRV4_CLAIM_SCOPE=test-" + std::to_string(getpid()) + "-" + std::to_string(++started);
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    putenv(scope.data());
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (pid_ < 0) ended_ = true;
}

Process::~Process() {
  if (!stop(SIGTERM, 1000)) stop(SIGKILL, 1000);
}

bool Process::running() {
  if (!ended_ && waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

int Process::exitCode() {
  if (running() || pid_ < 0 || !WIFEXITED(status_)) return -1;
  return WEXITSTATUS(status_);
}

bool Process::stop(int signal, int waitMs) {
  if (!running()) return true;
  kill(pid_, signal);
  return waitFor([this] { return !running(); }, waitMs);
}

double cpuSeconds(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  // The command name in parentheses may hold blanks: count the fields after its closing one,
  // which start at field 3; utime and stime are fields 14 and 15.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 1));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpuSecondsFine(pid_t pid) {
  std::error_code ec;
  std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", ec);
  if (ec) return -1;
  unsigned long long ns = 0;
  for (const auto& task : tasks) {
    std::ifstream in(task.path() / "schedstat");
    unsigned long long run = 0;
    if (in >> run) ns += run;
  }
  return ns ? static_cast<double>(ns) / 1e9 : -1;
}

long residentKb(pid_t pid) {
  std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::vector<LogEntry> readSimLog(const std::string& path) {
  std::vector<LogEntry> out;
  std::istringstream in(readFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, h;
    LogEntry e;
    if (!(fields >> kind >> e.at) || (kind != "RX" && kind != "TX")) continue;
    e.kind = kind == "RX" ? LogEntry::kRx : LogEntry::kTx;
    while (fields >> h) {
      if (h == "BADBCC") {
        e.valid = false;
        break;
      }
      e.bytes += static_cast<char>(std::strtol(h.c_str(), nullptr, 16));
    }
    out.push_back(e);
  }
  return out;
}

std::vector<LineEvent> lineEvents(const std::vector<LogEntry>& log) {
  std::vector<LineEvent> line;
  line.reserve(log.size());
  for (const LogEntry& e : log) line.push_back({e.at * 1000, e.kind == LogEntry::kRx, e.bytes});
  return line;
}

std::vector<LogEntry> received(const std::vector<LogEntry>& log) {
  std::vector<LogEntry> out;
  for (const auto& e : log)
    if (e.kind == LogEntry::kRx) out.push_back(e);
  return out;
}

std::string simulatorPath() {
  const char* env = std::getenv("TRV4_SCALESIM");
  return env && *env ? env : TRV4_SCALESIM_PATH;
}

std::string programPath() {
  const char* env = std::getenv("TRV4_PROGRAM");
  return env && *env ? env : TRV4_PROGRAM_PATH;
}

std::string gatewayPath() {
  const char* env = std::getenv("TRV4_GATEWAY");
  return env && *env ? env : TRV4_GATEWAY_PATH;
}

std::string iniText(std::string scan, const std::string& settings) {
  scan.resize(30, '0');
  return "\"1 ' port nr 1,2,3,4\"\r\n\"" + settings +
         "\"\r\n"
         "\"0050  ' wait status responce STX\"\r\n\"0300  ' wait Command responce stx\"\r\n"
         "\"0100  ' wait for next scan if this scan is a status\"\r\n"
         "\"0100  ' wait for next scan if this scan is a command\"\r\n"
         "\"0020  ' wait character reception\"\r\n\"" +
         scan + "  ' Scales To Scan\"\r\n";
}

namespace {

std::vector<std::string> withLog(std::vector<std::string> args, const std::string& log) {
  args.insert(args.end(), {"--link", "COM1", "--log", log});
  return args;
}

Process startProgram(const TempDir& dir, const std::string& scan, const Session::Files& files,
                     const Session::Command* command = nullptr) {
  writeFile(dir.file("TRV4.INI"), iniText(scan));
  for (const auto& [name, contents] : files) writeFile(dir.file(name), contents);
  return Process(command ? command->path : programPath(),
                 command ? command->args : std::vector<std::string>{}, dir.path(),
                 {"QT_QPA_PLATFORM=offscreen"}, "trv4.out");
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

Session::Session(const std::vector<std::string>& simArgs, const std::string& scan,
                 const Files& files)
    : sim(dir, simArgs), program(startProgram(dir, scan, files)) {}

Session::Session(const std::vector<std::string>& simArgs, const Command& command)
    : sim(dir, simArgs), program(command.path, command.args, dir.path(), {}, "command.out") {}

Session::Session(const std::vector<std::string>& simArgs, const std::string& scan,
                 const Files& files, const Command& command)
    : sim(dir, simArgs), program(startProgram(dir, scan, files, &command)) {}

long requestsBetween(const std::string& simLog, double from, double to) {
  std::ifstream in(simLog);
  std::string kind;
  double at = 0;
  long count = 0;
  while (in >> kind >> at) {
    if (kind == "RX" && at >= from && at < to) ++count;
    in.ignore(1 << 30, '\n');
  }
  return count;
}

}  // namespace trv4::scalesim

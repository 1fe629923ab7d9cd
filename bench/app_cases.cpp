// Figures of the window's start-up and of the sign search.
//
// The start-up figures come from a fresh process: this program starts itself
// again with TARVO_BENCH_STARTUP_T0 set to the moment before the start, and
// the child reports how long it took until its window was shown and how much
// memory it then held.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/sign_search.h"
#include "bench/bench.h"
#include "sim/sign_simulator.h"
#include "tests/app/window_test_support.h"
#include "tests/support/hermetic_env.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using tarvo::bench::Percentile;
using tarvo::bench::Report;

const char kStartupT0[] = "TARVO_BENCH_STARTUP_T0";

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One full search over COM1..COM255 at the given read delay.
double SearchMs(int readDelayMs) {
  TComPort port;
  std::string reply;
  std::vector<std::string> log;
  const sign_exchange::ExchangeContext context{
      reply, [readDelayMs] { return readDelayMs; },
      [&log](const std::string& line) { log.push_back(line); }, {}};
  const auto start = Clock::now();
  SearchSign(port, context, 200);
  return MsSince(start);
}

void SearchNoPorts(Report& report) {
  tarvo::test::HermeticEnv env;
  std::vector<double> samples;
  for (int i = 0; i < 20; ++i) samples.push_back(SearchMs(50));
  report.Add("search.no_ports_ms", Percentile(samples, 50), "ms", "<= 20");
}

void SearchOneSign(Report& report) {
  tarvo::test::HermeticEnv env;
  sign_sim::SignSimulator simulator(env.ComDir());
  simulator.AddSign("COM1");
  simulator.Start();
  std::vector<double> samples;
  for (int i = 0; i < 7; ++i) samples.push_back(SearchMs(50));
  report.Add("search.one_sign_ms", Percentile(samples, 50), "ms", "<= 60");
}

double ResidentMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

// The child: start-up as the program does it, with the no-sign message answered.
void StartupChild(Report& report, long long t0) {
  tarvo::test::MessageBoxAnswerer boxes;
  TForm1 form;
  form.show();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (form.windowHandle() == nullptr || !form.windowHandle()->isExposed()) {
    if (Clock::now() > deadline) throw std::runtime_error("the window was never shown");
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  QCoreApplication::processEvents();
  const double shownMs =
      (Clock::now().time_since_epoch() - std::chrono::nanoseconds(t0)).count() / 1e6;
  report.Add("startup.window_shown_ms", shownMs, "ms", "<= 400");
  report.Add("startup.rss_mb", ResidentMb(), "MB", "<= 60");
}

// The value of one figure in the child's JSON lines.
double FigureValue(const std::string& output, const std::string& name) {
  const std::string key = "{\"case\": \"" + name + "\", \"value\": ";
  const size_t at = output.find(key);
  if (at == std::string::npos) throw std::runtime_error("the child gave no " + name);
  return std::strtod(output.c_str() + at + key.size(), nullptr);
}

std::string RunStartupChild() {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  char name[] = "tarvo-bench";
  char json[] = "--json";
  char filter[] = "startup";
  char* argv[] = {name, json, filter, nullptr};

  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string oldPlatform = platform != nullptr ? platform : "";
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv(kStartupT0, std::to_string(Clock::now().time_since_epoch().count()).c_str(), 1);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, environ);
  unsetenv(kStartupT0);
  if (platform != nullptr) {
    setenv("QT_QPA_PLATFORM", oldPlatform.c_str(), 1);
  } else {
    unsetenv("QT_QPA_PLATFORM");
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string output;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(pipeFds[0]);
  if (spawned != 0) throw std::runtime_error("could not start the child");
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the child failed");
  return output;
}

void Startup(Report& report) {
  if (const char* t0 = std::getenv(kStartupT0)) {
    StartupChild(report, std::atoll(t0));
    return;
  }
  tarvo::test::HermeticEnv env;  // no ports
  std::vector<double> shown;
  std::vector<double> resident;
  for (int i = 0; i < 5; ++i) {
    const std::string output = RunStartupChild();
    shown.push_back(FigureValue(output, "startup.window_shown_ms"));
    resident.push_back(FigureValue(output, "startup.rss_mb"));
  }
  report.Add("startup.window_shown_ms", Percentile(shown, 50), "ms", "<= 400");
  report.Add("startup.rss_mb", Percentile(resident, 50), "MB", "<= 60");
}

}  // namespace

TARVO_BENCH_CASE("search.no_ports_ms", SearchNoPorts);
TARVO_BENCH_CASE("search.one_sign_ms", SearchOneSign);
TARVO_BENCH_CASE("startup", Startup);

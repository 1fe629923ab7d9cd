// Figures of the serial port component on a pseudo-terminal: what an open
// port costs while idle, and how long the program's calls take.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench.h"
#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarvo::bench::Percentile;
using tarvo::bench::Report;

// A port on COM3 of a private port folder, played by a pseudo-terminal.
struct BenchPort {
  BenchPort() {
    env.Publish("COM3", pty.TerminalPath());
    port.SetPort("COM3");
    port.SetBaudRate(br19200);
    port.SetDiscardNull(true);
  }
  tarvo::test::HermeticEnv env;
  tarvo::test::PtyPair pty;
  TComPort port;
};

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void IdleCpu(Report& report) {
  BenchPort bench;
  bench.port.OpenPort();
  const double cpuBefore = tarvo::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = tarvo::bench::ProcessCpuSeconds() - cpuBefore;
  report.Add("serial.idle_cpu_percent", 100.0 * cpu / wall, "%", "< 0.1");
}

void QueueCount(Report& report) {
  BenchPort bench;
  bench.port.OpenPort();
  bench.pty.Write("T0123456789A5C");
  tarvo::test::WaitFor([&] { return bench.port.InputQueueCount() == 14; });
  std::vector<double> samples;
  for (int i = 0; i < 2000; ++i) {
    const auto start = Clock::now();
    bench.port.InputQueueCount();
    samples.push_back(Micros(Clock::now() - start));
  }
  report.Add("serial.queue_count_us", Percentile(samples, 50), "us", "< 50");
}

void Read(Report& report) {
  BenchPort bench;
  bench.port.OpenPort();
  std::vector<double> samples;
  std::string text;
  for (int i = 0; i < 500; ++i) {
    bench.pty.Write("T0123456789A5C");
    tarvo::test::WaitFor([&] { return bench.port.InputQueueCount() == 14; });
    const auto start = Clock::now();
    bench.port.ReadBytes(text, 14);
    samples.push_back(Micros(Clock::now() - start));
  }
  report.Add("serial.read_us", Percentile(samples, 50), "us", "< 100");
}

void OpenClose(Report& report) {
  BenchPort bench;
  std::vector<double> samples;
  for (int i = 0; i < 100; ++i) {
    const auto start = Clock::now();
    bench.port.OpenPort();
    bench.port.ClosePort();
    samples.push_back(Micros(Clock::now() - start) / 1000.0);
  }
  report.Add("serial.open_close_ms", Percentile(samples, 50), "ms", "< 5");
}

TARVO_BENCH_CASE("serial.idle_cpu_percent", IdleCpu);
TARVO_BENCH_CASE("serial.queue_count_us", QueueCount);
TARVO_BENCH_CASE("serial.read_us", Read);
TARVO_BENCH_CASE("serial.open_close_ms", OpenClose);

}  // namespace

// tarvo-cli as a script runs it, process start to exit, against simulated
// signs on a 19200-baud line: the read and the write as shares of their line
// time, a read of a sign that does not answer, find over many ports, and the
// start of the program alone.
#include <chrono>
#include <functional>
#include <vector>

#include "bench/bench.h"
#include "sim/sign_simulator.h"
#include "tests/cli/cli_process.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::bench::Report;

constexpr int kLineRate = 19200;
constexpr int kRuns = 5;
constexpr int kPanelExchangeBytes = 3 + 14;  // request and reply
constexpr int kFrameExchangeBytes = 11 + 5;  // frame and acknowledgement
constexpr int kSilentPorts = 16;

// Ten bits a byte.
double LineSeconds(int bytes) { return bytes * 10.0 / kLineRate; }

// The median wall time of the program run with the arguments, each run
// ending with the status given.
double MedianSeconds(const std::vector<std::string>& args, int runs = kRuns, int status = 0) {
  std::vector<double> samples;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const tarvo::test::CliResult result = tarvo::test::RunCli(args);
    samples.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (result.status != status) throw std::runtime_error("tarvo-cli: " + result.err);
  }
  return tarvo::bench::Percentile(samples, 50);
}

// One sign on COM3 at the line rate, for the duration of `measure`.
double WithSign(const std::function<double()>& measure, const sign_sim::SignFaults& faults = {}) {
  tarvo::test::HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sign_sim::SimSign& sign = sim.AddSign("COM3");
  sign.SetLineRate(kLineRate);
  sign.SetFaults(faults);
  sim.Start();
  return measure();
}

void Read(Report& report) {
  const double seconds = WithSign([] { return MedianSeconds({"read", "--port", "COM3"}); });
  report.Add("cli.read_ratio", seconds / LineSeconds(10 * kPanelExchangeBytes), "ratio", "<= 1.3");
}

// A sign that answers nothing: the read ends at the first panel.
void SilentRead(Report& report) {
  sign_sim::SignFaults silent;
  silent.silent = true;
  const double seconds = WithSign(
      [] {
        return MedianSeconds({"read", "--port", "COM3"}, kRuns, 1);
      },
      silent);
  report.Add("cli.silent_read_ms", seconds * 1000, "ms", "<= 1000");
}

void Write(Report& report) {
  const double seconds = WithSign([] {
    return MedianSeconds({"write", "--port", "COM3", "row1=11.11:80:0", "row2=22.22:92:1",
                          "row3=33.33:95:2", "row4=44.44:98:3", "row5=55.55:ДТ:0"});
  });
  // The read before, ten frames, the read-back.
  const int bytes = 2 * 10 * kPanelExchangeBytes + 10 * kFrameExchangeBytes;
  report.Add("cli.write_ratio", seconds / LineSeconds(bytes), "ratio", "<= 1.3");
}

void Find(Report& report) {
  tarvo::test::HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  for (int number = 1; number <= kSilentPorts; ++number) {
    sign_sim::SimSign& sign = sim.AddSign("COM" + std::to_string(number));
    sign.SetLineRate(kLineRate);
    sign.UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  }
  sim.AddSign("COM" + std::to_string(kSilentPorts + 1)).SetLineRate(kLineRate);
  sim.Start();
  report.Add("cli.find_ms", MedianSeconds({"find"}) * 1000, "ms", "<= 150");
}

void Start(Report& report) {
  report.Add("cli.start_ms", MedianSeconds({"--version"}, 21) * 1000, "ms", "<= 10");
}

}  // namespace

TARVO_BENCH_CASE("cli.read_ratio", Read);
TARVO_BENCH_CASE("cli.silent_read_ms", SilentRead);
TARVO_BENCH_CASE("cli.write_ratio", Write);
TARVO_BENCH_CASE("cli.find_ms", Find);
TARVO_BENCH_CASE("cli.start_ms", Start);

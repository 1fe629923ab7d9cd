// How fast the simulated sign answers: from the last request byte written on
// the program's side to the first answer byte readable there.
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bench/bench.h"
#include "sim/sign_simulator.h"
#include "tests/sim/program_line.h"

namespace {

void AnswerLatency(tarvo::bench::Report& report) {
  constexpr int kRequests = 2000;
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("tarvo-bench-sim-" + std::to_string(getpid())))
          .string();
  std::vector<double> micros;
  {
    sign_sim::SignSimulator sim(dir);
    sign_sim::SimSign& sign = sim.AddSign("COM3");
    sim.Start();
    tarvo::test::ProgramLine line(sign.LinkPath());
    micros.reserve(kRequests);
    for (int i = 0; i < kRequests; ++i) {
      line.Send("R0E");
      const auto sent = std::chrono::steady_clock::now();
      pollfd p{line.Fd(), POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) throw std::runtime_error("the simulated sign did not answer");
      const auto readable = std::chrono::steady_clock::now();
      micros.push_back(std::chrono::duration<double, std::micro>(readable - sent).count());
      if (line.ReadExactly(14).size() != 14) throw std::runtime_error("short reply");
    }
  }
  std::filesystem::remove_all(dir);
  report.Add("sim.answer_latency_us_p50", tarvo::bench::Percentile(micros, 50), "us", "");
  report.Add("sim.answer_latency_us_p99", tarvo::bench::Percentile(micros, 99), "us", "< 1000");
}

TARVO_BENCH_CASE("sim.answer_latency", AnswerLatency);

}  // namespace

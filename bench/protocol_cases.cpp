// The read and the write against a simulated sign at the shipped read delay:
// wall time as a share of what their read delays alone take, so the figure
// shows the cost of everything else (transfers, purges, log lines). Waiting
// for the answer's bytes instead, on a line of 19200 baud: wall time as a
// share of the time the line needs for the bytes.
#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "bench/bench.h"
#include "protocol/read_sign.h"
#include "protocol/write_sign.h"
#include "tests/protocol/exchange_recorder.h"
#include "tests/protocol/simulated_sign.h"

namespace {

using tarvo::bench::Report;
using tarvo::test::ExchangeRecorder;
using tarvo::test::SimulatedSign;

constexpr int kShippedReadDelayMs = 50;
constexpr int kRuns = 3;
const char kGoal[] = "<= 1.03";

constexpr int kLineRate = 19200;
constexpr int kAnswerTimeoutMs = 100;
constexpr int kPanelExchangeBytes = 3 + 14;  // request and reply
constexpr int kFrameExchangeBytes = 11 + 5;  // frame and acknowledgement
const char kLineGoal[] = "<= 1.3";

// Ten bits a byte.
double LineSeconds(int bytes) { return bytes * 10.0 / kLineRate; }

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Median over a few runs, each on a fresh sign and window.
double MedianSeconds(int runs, const std::function<double()>& run) {
  std::vector<double> samples;
  for (int i = 0; i < runs; ++i) samples.push_back(run());
  return tarvo::bench::Percentile(samples, 50);
}

double FullReadSeconds(const sign_sim::SignFaults& faults) {
  SimulatedSign sim;
  sim.Sign().SetFaults(faults);
  ExchangeRecorder window;
  window.readDelayMs = kShippedReadDelayMs;
  return Seconds([&] {
    sign_exchange::ReadSign(sim.Link(), window.Context(),
                            [](const sign_exchange::PanelReading&) {});
  });
}

void ReadFull(Report& report) {
  // Ten panels of two read delays each.
  const double seconds = MedianSeconds(kRuns, [] { return FullReadSeconds({}); });
  report.Add("read.full_ratio", seconds / 1.00, "ratio", kGoal);
}

void ReadSilent(Report& report) {
  // Ten panels of seven attempts of four read delays each.
  sign_sim::SignFaults silent;
  silent.silent = true;
  report.Add("read.silent_ratio", FullReadSeconds(silent) / 14.0, "ratio", kGoal);
}

void WriteFull(Report& report) {
  // Ten frames of one read delay each, then the read-back of twenty.
  const double seconds = MedianSeconds(kRuns, [] {
    SimulatedSign sim;
    // The smallest delay that keeps the answer behind the purge after the
    // frame's second transmission.
    sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 1; });
    ExchangeRecorder window;
    window.readDelayMs = kShippedReadDelayMs;
    const sign_link::EntryRow row{false, true, false, 1, "12.34"};
    return Seconds([&] {
      sign_exchange::WriteSign(
          sim.Link(), [&](int) { return row; }, window.Context());
      sign_exchange::ReadSign(sim.Link(), window.Context(),
                              [](const sign_exchange::PanelReading&) {});
    });
  });
  report.Add("write.full_ratio", seconds / 1.50, "ratio", kGoal);
}

// A fresh sign on a line of kLineRate, and the time of what run does with it
// while waiting for the bytes.
double FastSeconds(
    const std::function<void(SignPort&, const sign_exchange::ExchangeContext&)>& run) {
  SimulatedSign sim;
  sim.Sign().SetLineRate(kLineRate);
  ExchangeRecorder window;
  const sign_exchange::ExchangeContext context = window.WaitingForBytes(kAnswerTimeoutMs);
  return Seconds([&] { run(sim.Link(), context); });
}

void ReadAll(SignPort& port, const sign_exchange::ExchangeContext& context) {
  sign_exchange::ReadSign(port, context, [](const sign_exchange::PanelReading&) {});
}

void FastRead(Report& report) {
  const double seconds = MedianSeconds(kRuns, [] { return FastSeconds(ReadAll); });
  report.Add("protocol.fast_read_ratio", seconds / LineSeconds(10 * kPanelExchangeBytes), "ratio",
             kLineGoal);
}

void FastWrite(Report& report) {
  const double seconds = MedianSeconds(kRuns, [] {
    return FastSeconds([](SignPort& port, const sign_exchange::ExchangeContext& context) {
      const sign_link::EntryRow row{false, true, false, 1, "12.34"};
      sign_exchange::WriteSign(
          port, [&](int) { return row; }, context);
      ReadAll(port, context);
    });
  });
  const int bytes = 10 * kFrameExchangeBytes + 10 * kPanelExchangeBytes;
  report.Add("protocol.fast_write_ratio", seconds / LineSeconds(bytes), "ratio", kLineGoal);
}

}  // namespace

TARVO_BENCH_CASE("read.full_ratio", ReadFull);
TARVO_BENCH_CASE("read.silent_ratio", ReadSilent);
TARVO_BENCH_CASE("write.full_ratio", WriteFull);
TARVO_BENCH_CASE("protocol.fast_read_ratio", FastRead);
TARVO_BENCH_CASE("protocol.fast_write_ratio", FastWrite);

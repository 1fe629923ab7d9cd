// What the program costs once the sign's cable is pulled while the port is
// open: the window waits for the operator after the error report, and
// neither the port's event thread nor anything else may keep it busy.

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <memory>
#include <stdexcept>

#include "app/main_window.h"
#include "bench/bench.h"
#include "sim/sign_simulator.h"
#include "tests/app/window_test_support.h"
#include "tests/support/hermetic_env.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarvo::bench::Report;

constexpr int kIdleMs = 6000;

void IdleAfterUnplug(Report& report) {
  tarvo::test::HermeticEnv env;
  sign_sim::SignSimulator simulator(env.ComDir());
  sign_sim::SimSign& sign = simulator.AddSign("COM3");
  simulator.Start();
  // Answers the start-up message and the error report, then goes: its timer
  // would be counted too.
  auto boxes = std::make_unique<tarvo::test::MessageBoxAnswerer>();
  TForm1 form;
  if (!form.Port().Connected()) throw std::runtime_error("the start-up search found no sign");
  sign.Unplug();
  form.RunCommand([&form] { form.Button7Click(); });  // meets the hang-up; the port stays open
  boxes.reset();
  if (!form.Port().Connected()) throw std::runtime_error("the port closed after the unplug");

  QEventLoop loop;
  QTimer::singleShot(kIdleMs, &loop, &QEventLoop::quit);
  const double cpuBefore = tarvo::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  loop.exec();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  report.Add("unplug.idle_cpu_percent", 100.0 * (tarvo::bench::ProcessCpuSeconds() - cpuBefore) / wall, "%", "< 0.5");
}

}  // namespace

TARVO_BENCH_CASE("unplug.idle_cpu_percent", IdleAfterUnplug);

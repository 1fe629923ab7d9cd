// A long run of writes with their read-backs through the window against a
// simulated sign: memory, descriptors and threads must not grow, and the
// exchange log must keep to its bound.
//
// TARVO_SOAK_CYCLES sets the number of cycles (1,000 when unset).
#include <dirent.h>
#include <malloc.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QSlider>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/main_window.h"
#include "bench/bench.h"
#include "sim/sign_simulator.h"
#include "tests/app/window_test_support.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::bench::Report;

// Warm-up: at least this many cycles, and on until the exchange log holds
// its 10,000 lines, so its growth is not counted as a leak.
constexpr int kWarmUpCycles = 20;
constexpr int kLogBound = 10000;
constexpr int kMaxWarmUpCycles = 1000;
constexpr int kReadDelayMs = 1;

int Cycles() {
  const char* text = std::getenv("TARVO_SOAK_CYCLES");
  const int cycles = text != nullptr ? std::atoi(text) : 1000;
  if (cycles < 1) throw std::runtime_error("TARVO_SOAK_CYCLES must be a positive number");
  return cycles;
}

// Resident memory once the allocator has given its free pages back, so
// what is counted is memory in use, not the heap's free space.
double ResidentKb() {
  malloc_trim(0);
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr);
  }
  throw std::runtime_error("no VmRSS in /proc/self/status");
}

// Entries of a /proc folder (for fd, the listing's own descriptor among them).
int EntriesOf(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) throw std::runtime_error(std::string("cannot list ") + folder);
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

void Soak(Report& report) {
  const int cycles = Cycles();
  tarvo::test::HermeticEnv env;
  sign_sim::SignSimulator simulator(env.ComDir());
  sign_sim::SimSign& sign = simulator.AddSign("COM3");
  simulator.Start();
  tarvo::test::MessageBoxAnswerer boxes;
  TForm1 form;
  if (!form.Port().Connected()) throw std::runtime_error("the start-up search found no sign");
  form.findChild<QSlider*>("RxSlider1")->setValue(kReadDelayMs);
  QPushButton& write = *form.findChild<QPushButton*>("Button8");
  boxes.Clear();

  // The simulator shares the process: its record of the messages is
  // forgotten every cycle, so only the program's own memory is counted.
  const auto cycle = [&] {
    write.click();
    QCoreApplication::processEvents();
    sign.ClearReceived();
  };
  for (int i = 0; i < kWarmUpCycles || form.LogLines().size() < kLogBound; ++i) {
    if (i == kMaxWarmUpCycles) throw std::runtime_error("the exchange log never filled");
    cycle();
  }
  const double residentBefore = ResidentKb();
  const int fdsBefore = EntriesOf("/proc/self/fd");
  const int threadsBefore = EntriesOf("/proc/self/task");
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < cycles; ++i) cycle();
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  if (!boxes.Shown().empty()) throw std::runtime_error("a cycle showed " + boxes.Shown()[0].text);

  report.Add("soak.rss_growth_kb", ResidentKb() - residentBefore, "kB", "< 1024");
  report.Add("soak.fd_growth", EntriesOf("/proc/self/fd") - fdsBefore, "", "0");
  report.Add("soak.thread_growth", EntriesOf("/proc/self/task") - threadsBefore, "", "0");
  report.Add("soak.cycle_ms", elapsed.count() / cycles, "ms", "");
  report.Add("soak.log_lines", form.LogLines().size(), "lines", "<= " + std::to_string(kLogBound));
}

}  // namespace

TARVO_BENCH_CASE("soak", Soak);

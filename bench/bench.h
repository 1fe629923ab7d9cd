#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvo::bench {

// One figure of a benchmark case, printed as one JSON line with --json.
struct Figure {
  std::string name;
  double value;
  std::string unit;
  std::string goal;
};

class Report {
 public:
  void Add(std::string name, double value, std::string unit, std::string goal) {
    figures_.push_back({std::move(name), value, std::move(unit), std::move(goal)});
  }
  const std::vector<Figure>& Figures() const { return figures_; }

 private:
  std::vector<Figure> figures_;
};

using CaseFunction = std::function<void(Report&)>;

// Registers a case under a name; the prefix before the first "." groups cases.
bool RegisterCase(const std::string& name, CaseFunction run);

// User and system CPU time of this process so far, in seconds.
double ProcessCpuSeconds();

// Median and percentile of samples (the vector is sorted in place).
double Percentile(std::vector<double>& samples, double percent);

}  // namespace tarvo::bench

#define TARVO_BENCH_CONCAT2(a, b) a##b
#define TARVO_BENCH_CONCAT(a, b) TARVO_BENCH_CONCAT2(a, b)
#define TARVO_BENCH_CASE(name, function) \
  static const bool TARVO_BENCH_CONCAT(registered_, __LINE__) = \
      ::tarvo::bench::RegisterCase(name, function)

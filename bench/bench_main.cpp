// tarvo-bench: runs the registered cases and prints their figures, as text or
// as one JSON object per line with --json. Arguments other than --json select
// the cases whose names start with them.
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/bench.h"

namespace tarvo::bench {

namespace {

std::map<std::string, CaseFunction>& Cases() {
  static std::map<std::string, CaseFunction> cases;
  return cases;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool Selected(const std::string& name, const std::vector<std::string>& filters) {
  if (filters.empty()) return true;
  return std::any_of(filters.begin(), filters.end(),
                     [&](const std::string& f) { return name.rfind(f, 0) == 0; });
}

}  // namespace

bool RegisterCase(const std::string& name, CaseFunction run) {
  Cases()[name] = std::move(run);
  return true;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Percentile(std::vector<double>& samples, double percent) {
  if (samples.empty()) return NAN;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<size_t>(std::ceil(percent / 100.0 * samples.size()));
  return samples[std::clamp<size_t>(rank, 1, samples.size()) - 1];
}

}  // namespace tarvo::bench

int main(int argc, char** argv) {
  using namespace tarvo::bench;
  // The cases that make windows never show them to anyone.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  bool json = false;
  std::vector<std::string> filters;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--list") {
      for (const auto& [name, run] : Cases()) std::printf("%s\n", name.c_str());
      return 0;
    } else {
      filters.push_back(arg);
    }
  }
  int failed = 0;
  for (const auto& [name, run] : Cases()) {
    if (!Selected(name, filters)) continue;
    Report report;
    try {
      run(report);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: failed: %s\n", name.c_str(), e.what());
      ++failed;
      continue;
    }
    for (const Figure& f : report.Figures()) {
      if (json) {
        std::printf("{\"case\": %s, \"value\": %.6g, \"unit\": %s, \"goal\": %s}\n",
                    JsonText(f.name).c_str(), f.value, JsonText(f.unit).c_str(),
                    JsonText(f.goal).c_str());
      } else {
        std::printf("%-28s %12.3f %-6s goal %s\n", f.name.c_str(), f.value, f.unit.c_str(),
                    f.goal.c_str());
      }
      std::fflush(stdout);
    }
  }
  return failed == 0 ? 0 : 1;
}

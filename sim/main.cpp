// tarvo-sign-sim: a TARVO Z408 sign on pseudo-terminals, for trying the
// program without the hardware. See --help.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sign_simulator.h"
#include "sim/sim_options.h"

namespace {

std::mutex printMutex;

// One line on stdout, flushed at once: whoever waits for the ready line or
// follows the transcript through a pipe sees each line as it happens.
void PrintLine(const std::string& line) {
  std::lock_guard lock(printMutex);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

int Run(const sign_sim::SimOptions& options) {
  // Blocked here, before any thread exists, so that only sigwait takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A reader of the transcript that goes away must not take the sign with it.
  std::signal(SIGPIPE, SIG_IGN);

  sign_sim::SignSimulator simulator(options.dir);
  std::string ready;
  for (const sign_sim::SignOptions& signOptions : options.signs) {
    sign_sim::SimSign& sign = simulator.AddSign(signOptions.port);
    sign.SetFaults(signOptions.faults);
    for (const auto& [address, record] : signOptions.panels) sign.SetPanel(address, record);
    sign.SetBrightness(signOptions.brightness);
    sign.SetLineRate(signOptions.lineRate);
    ready += (ready.empty() ? "ready: " : ", ") + sign.PortName() + " -> " + sign.TerminalPath();
  }
  simulator.SetTranscript([](const sign_sim::TranscriptLine& line) {
    PrintLine(sign_sim::FormatTranscriptLine(line));
  });
  simulator.Start();
  PrintLine(ready);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  simulator.Stop();
  PrintLine("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const sign_sim::SimOptions options =
        sign_sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::fputs(sign_sim::SimUsage().c_str(), stdout);
      return 0;
    }
    return Run(options);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "tarvo-sign-sim: %s\n\n%s", e.what(), sign_sim::SimUsage().c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvo-sign-sim: %s\n", e.what());
    return 1;
  }
}

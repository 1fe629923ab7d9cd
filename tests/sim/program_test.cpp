// tarvo-sign-sim as a user runs it: its command line, its ready line and
// transcript, and a clean stop on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "sim/sim_options.h"
#include "sim/transcript.h"
#include "tests/sim/program_line.h"
#include "tests/support/hermetic_env.h"

extern char** environ;

namespace tarvo::test {
namespace {

// The built simulator, started with its output on a pipe.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    output_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> all{TARVO_SIGN_SIM_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) throw std::runtime_error("cannot start " + all[0]);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(output_);
  }

  // The next line of output, or what there is when the bound runs out.
  std::string ReadLine(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      if (const size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{output_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return buffered_;
      char chunk[512];
      const ssize_t n = read(output_, chunk, sizeof chunk);
      if (n <= 0) return std::exchange(buffered_, "");
      buffered_.append(chunk, static_cast<size_t>(n));
    }
  }

  // Sends SIGTERM and returns the exit status.
  int Terminate() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

TEST(SimProgram, ServesUntilSigtermWithAReadyLineAndATranscript) {
  HermeticEnv env;
  SimProcess sim(
      {"--dir", env.ComDir(), "--port", "COM3", "--panel", "0=12.34,2,1", "--port", "COM4"});
  const std::string ready = sim.ReadLine();
  ASSERT_EQ(ready.rfind("ready: COM3 -> /dev/pts/", 0), 0u) << ready;
  EXPECT_NE(ready.find(", COM4 -> /dev/pts/"), std::string::npos) << ready;

  {
    ProgramLine line(env.ComDir() + "/COM3");
    line.Send("R0E");
    EXPECT_EQ(line.ReadExactly(14), "T012342100OK67");
  }
  const std::string received = sim.ReadLine();
  const std::string sent = sim.ReadLine();
  EXPECT_NE(received.find(" COM3 <- R0E"), std::string::npos) << received;
  EXPECT_NE(sent.find(" COM3 -> T012342100OK67"), std::string::npos) << sent;

  EXPECT_EQ(sim.Terminate(), 0);
  EXPECT_EQ(sim.ReadLine(), "stopped");
  EXPECT_TRUE(std::filesystem::is_empty(env.ComDir())) << "links left behind";
}

TEST(SimOptions, SignOptionsBeforeTheFirstPortApplyToEverySign) {
  const sign_sim::SimOptions options = sign_sim::ParseSimOptions(
      {"--delay", "5", "--dir", "/tmp/x", "--port", "COM3", "--silent", "--panel", "12=----,3",
       "--port", "COM4", "--brightness", "7", "--panel", "0=1234,2,1", "--line-rate", "19200"});
  EXPECT_EQ(options.dir, "/tmp/x");
  ASSERT_EQ(options.signs.size(), 2u);
  EXPECT_EQ(options.signs[0].port, "COM3");
  EXPECT_EQ(options.signs[0].faults, (sign_sim::SignFaults{.silent = true, .answerDelayMs = 5}));
  EXPECT_EQ(options.signs[0].panels.at(12), (sign_link::PanelRecord{"----", '3', '0'}));
  EXPECT_EQ(options.signs[0].brightness, sign_sim::kBrightnessAutomatic);
  EXPECT_EQ(options.signs[1].faults, (sign_sim::SignFaults{.answerDelayMs = 5}));
  EXPECT_EQ(options.signs[1].brightness, 7);
  EXPECT_EQ(options.signs[1].panels.at(0), (sign_link::PanelRecord{"1234", '2', '1'}));
  EXPECT_EQ(options.signs[0].lineRate, 0);
  EXPECT_EQ(options.signs[1].lineRate, 19200);
}

TEST(SimOptions, NonsenseIsRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "COM3"},                                      // no folder
      {"--dir", "d"},                                          // no port
      {"--dir", "d", "--port", "COM3", "--delay", "-1"},       // negative
      {"--dir", "d", "--port", "COM3", "--delay"},             // no value
      {"--dir", "d", "--port", "COM3", "--panel", "5=1234"},   // no such panel
      {"--dir", "d", "--port", "COM3", "--panel", "0=123"},    // short price
      {"--dir", "d", "--port", "COM3", "--brightness", "10"},  // out of range
      {"--dir", "d", "--port", "COM3", "--frobnicate"},
  };
  for (const auto& args : bad) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_THROW(sign_sim::ParseSimOptions(args), std::invalid_argument) << line;
  }
}

TEST(Transcript, ShowsUnprintableBytesInHex) {
  EXPECT_EQ(sign_sim::ShowBytes(std::string("L\0A\x7F\\<", 6)), "L\\x00A\\x7F\\x5C<");
  const sign_sim::TranscriptLine line{std::chrono::system_clock::now(), "COM3",
                                      sign_sim::Direction::kReceived, "W0", "dropped"};
  const std::string text = sign_sim::FormatTranscriptLine(line);
  EXPECT_NE(text.find(" COM3 <- W0 (dropped)"), std::string::npos) << text;
}

}  // namespace
}  // namespace tarvo::test

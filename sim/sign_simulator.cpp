#include "sim/sign_simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "sim/answer_queue.h"
#include "sim/device_pty.h"
#include "sim/sign_device.h"

namespace sign_sim {

namespace {

using Clock = std::chrono::steady_clock;

// The start of a message whose rest has not come this long after its last
// byte is taken for noise, so that it cannot swallow the next message.
constexpr auto kStaleInput = std::chrono::milliseconds(200);

// Ten bits a byte: start, eight data bits, stop.
Clock::duration ByteTime(int bitsPerSecond) {
  if (bitsPerSecond <= 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL) /
                                                     bitsPerSecond);
}

// A message taken whole, and when its last byte had crossed the line.
struct Arrival {
  Exchange exchange;
  Clock::time_point at;
};

// What the serving thread shares with the signs: whether it runs, and how to wake it.
struct Service {
  std::atomic<bool> running{false};
  std::atomic<bool> stopped{false};
  std::atomic<std::thread::id> server{};
  int wakeFd = -1;

  void Wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(wakeFd, &one, sizeof one);
  }
};

}  // namespace

struct SimSign::State {
  State(std::string portName, std::string linkPath, Service& serviceRef)
      : port(std::move(portName)), link(std::move(linkPath)), service(serviceRef) {}

  // Closes the line; on the serving thread, or when it does not run. Mutex held.
  void CloseLine() {
    pty.Close();
    answers.Clear();
    device.ForgetPartial();
    unplugRequested = false;
    unplugDone.notify_all();
  }

  const std::string port;
  const std::string link;
  Service& service;

  mutable std::mutex mutex;
  std::condition_variable unplugDone;
  bool unplugRequested = false;
  SignDevice device;
  DevicePty pty;
  std::string publishedTarget;
  AnswerQueue answers;
  int lineRate = 0;
  Clock::time_point inputLineFree{};  // when the bytes received so far have crossed the line
  Clock::time_point lastInput{};
  std::vector<std::string> received;
  std::vector<std::string> answered;
};

struct SignSimulator::Loop {
  explicit Loop(std::string directory) : dir(std::move(directory)) {}

  void Serve();
  // One sign's share of a turn of the loop: take what arrived, answer, write
  // what is due. Mutex held.
  void ServeSign(SimSign::State& sign, short revents, Clock::time_point now,
                 std::vector<TranscriptLine>& lines);

  // Declared first so that it outlives the signs, which refer to it.
  Service service;
  const std::string dir;
  std::mutex mutex;  // guards signs and sink
  std::vector<std::unique_ptr<SimSign>> signs;
  std::function<void(const TranscriptLine&)> sink;
  std::thread thread;
};

// ---------------------------------------------------------------- SimSign

SimSign::SimSign(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimSign::~SimSign() = default;

const std::string& SimSign::PortName() const { return state_->port; }
const std::string& SimSign::LinkPath() const { return state_->link; }

std::string SimSign::TerminalPath() const {
  std::lock_guard lock(state_->mutex);
  return state_->pty.TerminalPath();
}

void SimSign::SetFaults(const SignFaults& faults) {
  std::lock_guard lock(state_->mutex);
  state_->device.Faults() = faults;
}

void SimSign::UpdateFaults(const std::function<void(SignFaults&)>& change) {
  std::lock_guard lock(state_->mutex);
  change(state_->device.Faults());
}

SignFaults SimSign::Faults() const {
  std::lock_guard lock(state_->mutex);
  return state_->device.Faults();
}

void SimSign::SetLineRate(int bitsPerSecond) {
  std::lock_guard lock(state_->mutex);
  state_->lineRate = std::max(bitsPerSecond, 0);
}

int SimSign::LineRate() const {
  std::lock_guard lock(state_->mutex);
  return state_->lineRate;
}

sign_link::PanelRecord SimSign::Panel(uint8_t address) const {
  std::lock_guard lock(state_->mutex);
  return state_->device.Panel(address);
}

void SimSign::SetPanel(uint8_t address, const sign_link::PanelRecord& record) {
  std::lock_guard lock(state_->mutex);
  state_->device.SetPanel(address, record);
}

int SimSign::Brightness() const {
  std::lock_guard lock(state_->mutex);
  return state_->device.Brightness();
}

void SimSign::SetBrightness(int brightness) {
  std::lock_guard lock(state_->mutex);
  state_->device.SetBrightness(brightness);
}

std::vector<std::string> SimSign::Received() const {
  std::lock_guard lock(state_->mutex);
  return state_->received;
}

size_t SimSign::ReceivedCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->received.size();
}

std::vector<std::string> SimSign::Answered() const {
  std::lock_guard lock(state_->mutex);
  return state_->answered;
}

size_t SimSign::AnsweredCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->answered.size();
}

void SimSign::ClearReceived() {
  std::lock_guard lock(state_->mutex);
  state_->received.clear();
  state_->answered.clear();
}

void SimSign::Unplug() {
  std::unique_lock lock(state_->mutex);
  if (!state_->pty.IsOpen()) return;
  if (!state_->service.running || state_->service.server == std::this_thread::get_id()) {
    state_->CloseLine();
    return;
  }
  // Only the serving thread closes a descriptor it may be polling.
  state_->unplugRequested = true;
  state_->service.Wake();
  state_->unplugDone.wait(lock, [this] { return !state_->unplugRequested; });
}

void SimSign::Replug() {
  if (state_->service.stopped) throw std::logic_error("the simulator has stopped");
  Unplug();
  DevicePty fresh = DevicePty::Open();
  std::lock_guard lock(state_->mutex);
  if (state_->service.stopped) throw std::logic_error("the simulator has stopped");
  if (state_->pty.IsOpen()) return;  // plugged in meanwhile by another caller
  PublishLink(state_->link, fresh.TerminalPath());
  state_->publishedTarget = fresh.TerminalPath();
  state_->pty = std::move(fresh);
  state_->service.Wake();
}

bool SimSign::Plugged() const {
  std::lock_guard lock(state_->mutex);
  return state_->pty.IsOpen();
}

// ---------------------------------------------------------------- SignSimulator

SignSimulator::SignSimulator(std::string dir) : loop_(std::make_unique<Loop>(std::move(dir))) {
  std::filesystem::create_directories(loop_->dir);
  loop_->service.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (loop_->service.wakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

SignSimulator::~SignSimulator() {
  Stop();
  close(loop_->service.wakeFd);
}

SimSign& SignSimulator::AddSign(const std::string& portName) {
  if (portName.empty() || portName == "." || portName == ".." ||
      portName.find('/') != std::string::npos) {
    throw std::invalid_argument("not a port name: " + portName);
  }
  std::lock_guard lock(loop_->mutex);
  if (loop_->service.stopped) throw std::logic_error("the simulator has stopped");
  for (const auto& sign : loop_->signs) {
    if (sign->PortName() == portName) throw std::runtime_error(portName + " is already simulated");
  }
  auto state =
      std::make_unique<SimSign::State>(portName, loop_->dir + "/" + portName, loop_->service);
  state->pty = DevicePty::Open();
  PublishLink(state->link, state->pty.TerminalPath());
  state->publishedTarget = state->pty.TerminalPath();
  loop_->signs.push_back(std::unique_ptr<SimSign>(new SimSign(std::move(state))));
  loop_->service.Wake();
  return *loop_->signs.back();
}

void SignSimulator::Start() {
  if (loop_->service.stopped) throw std::logic_error("the simulator has stopped");
  if (loop_->service.running.exchange(true)) return;
  loop_->thread = std::thread([this] { loop_->Serve(); });
}

void SignSimulator::Stop() {
  if (loop_->service.stopped.exchange(true)) return;
  loop_->service.running = false;
  loop_->service.Wake();
  if (loop_->thread.joinable()) loop_->thread.join();
  std::lock_guard lock(loop_->mutex);
  for (const auto& sign : loop_->signs) {
    SimSign::State& state = *sign->state_;
    std::lock_guard signLock(state.mutex);
    state.CloseLine();
    RemoveLink(state.link, state.publishedTarget);
  }
}

void SignSimulator::SetTranscript(std::function<void(const TranscriptLine&)> sink) {
  std::lock_guard lock(loop_->mutex);
  loop_->sink = std::move(sink);
}

// ---------------------------------------------------------------- the serving thread

void SignSimulator::Loop::Serve() {
  service.server = std::this_thread::get_id();
  struct Watched {
    SimSign::State* sign;
    int fd;
  };
  while (service.running) {
    std::vector<SimSign::State*> all;
    std::function<void(const TranscriptLine&)> currentSink;
    {
      std::lock_guard lock(mutex);
      for (const auto& sign : signs) all.push_back(sign->state_.get());
      currentSink = sink;
    }

    std::vector<pollfd> fds{{service.wakeFd, POLLIN, 0}};
    std::vector<Watched> watched;
    Clock::time_point wakeAt = Clock::time_point::max();
    for (SimSign::State* sign : all) {
      std::lock_guard lock(sign->mutex);
      if (sign->unplugRequested) sign->CloseLine();
      if (!sign->pty.IsOpen()) continue;
      short events = POLLIN;
      if (sign->answers.WaitingForRoom()) {
        events |= POLLOUT;
      } else if (const auto due = sign->answers.NextDue()) {
        wakeAt = std::min(wakeAt, *due);
      }
      if (sign->device.HoldsPartial()) wakeAt = std::min(wakeAt, sign->lastInput + kStaleInput);
      fds.push_back({sign->pty.MasterFd(), events, 0});
      watched.push_back({sign, sign->pty.MasterFd()});
    }

    timespec timeout{};
    timespec* timeoutOrForever = nullptr;
    if (wakeAt != Clock::time_point::max()) {
      const auto left = std::max(Clock::duration::zero(), wakeAt - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      timeoutOrForever = &timeout;
    }
    // Our own arguments leave only EINTR as a failure: just go round again.
    if (ppoll(fds.data(), fds.size(), timeoutOrForever, nullptr) < 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t ignored = read(service.wakeFd, &count, sizeof count);
    }

    const Clock::time_point now = Clock::now();
    std::vector<TranscriptLine> lines;
    for (size_t i = 0; i < watched.size(); ++i) {
      SimSign::State& sign = *watched[i].sign;
      std::lock_guard lock(sign.mutex);
      if (sign.pty.MasterFd() != watched[i].fd) continue;  // unplugged or replugged meanwhile
      ServeSign(sign, fds[i + 1].revents, now, lines);
    }
    if (currentSink) {
      for (const TranscriptLine& line : lines) currentSink(line);
    }
  }
}

void SignSimulator::Loop::ServeSign(SimSign::State& sign, short revents, Clock::time_point now,
                                    std::vector<TranscriptLine>& lines) {
  const int fd = sign.pty.MasterFd();
  const Clock::duration byteTime = ByteTime(sign.lineRate);
  std::vector<Arrival> arrivals;
  const auto take = [&](std::vector<Exchange> taken, Clock::time_point at) {
    for (Exchange& exchange : taken) arrivals.push_back({std::move(exchange), at});
  };
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        const std::string_view bytes(buffer, static_cast<size_t>(n));
        if (byteTime == Clock::duration::zero()) {
          take(sign.device.Receive(bytes), now);
        } else {
          // The bytes cross the line one after another, from when it is free;
          // a message is whole when its last byte has crossed.
          Clock::time_point crossed = std::max(now, sign.inputLineFree);
          for (size_t i = 0; i < bytes.size(); ++i) {
            crossed += byteTime;
            take(sign.device.Receive(bytes.substr(i, 1)), crossed);
          }
          sign.inputLineFree = crossed;
        }
        sign.lastInput = now;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        // The line failed under us; treat it as pulled rather than spin on it.
        const std::string reason = std::generic_category().message(errno);
        sign.CloseLine();
        lines.push_back({std::chrono::system_clock::now(), sign.port, Direction::kReceived, "",
                         "line failed: " + reason});
        return;
      }
      break;
    }
  }
  if (sign.device.HoldsPartial() && now - sign.lastInput >= kStaleInput) {
    take(sign.device.DropStaleByte(), now);
    sign.lastInput = now;
  }

  const SignFaults& faults = sign.device.Faults();
  // On a line of a given rate each answer byte is out one byte time after it
  // started, and the next cannot start sooner.
  const Clock::duration gap =
      std::max<Clock::duration>(std::chrono::milliseconds(faults.dribbleGapMs), byteTime);
  for (Arrival& arrival : arrivals) {
    lines.push_back({std::chrono::system_clock::now(), sign.port, Direction::kReceived,
                     arrival.exchange.received, arrival.exchange.note});
    sign.answers.Add(std::move(arrival.exchange.answer),
                     arrival.at + std::chrono::milliseconds(faults.answerDelayMs) + byteTime, gap);
  }
  for (std::string& answer : sign.answers.WriteDue(fd, now)) {
    lines.push_back({std::chrono::system_clock::now(), sign.port, Direction::kSent, answer, ""});
    sign.answered.push_back(std::move(answer));
  }
  // Published last: whoever sees a message received also finds its immediate
  // answer already on the line.
  for (Arrival& arrival : arrivals) sign.received.push_back(std::move(arrival.exchange.received));
}

}  // namespace sign_sim

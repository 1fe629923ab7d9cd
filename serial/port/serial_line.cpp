#include "serial/port/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>

#include "serial/port/custom_speed.h"
#include "serial/port/event_word.h"
#include "serial/port/line_snapshot.h"
#include "serial/port/line_users.h"
#include "serial/port/port_names.h"
#include "serial/port/terminal_node.h"
#include "serial/port/termios_mapping.h"
#include "serial/port/transfer_timeouts.h"

namespace {

// A read that may wait looks at the queue at least this often, because the
// event thread may move the bytes it waits for.
constexpr int kReadSliceMs = 10;
// Longest single sleep while the driver sends what it holds.
constexpr int64_t kSendSliceMs = 20;

// The one place where a failed call becomes the caller's error.
[[noreturn]] void Raise(int code, int systemError = errno) { throw EComPort(code, systemError); }

// Drivers without modem lines or line counters (pseudo-terminals, some USB
// adapters) refuse those requests at once with one of these.
bool NotSupported(int error) { return error == ENOTTY || error == EINVAL; }

// The record of one synchronous transfer: the bytes it moves, owned by the
// call and released with its scope on every path, also when it raises. A
// write sends from this private copy.
struct PendingTransfer {
  std::string bytes;
};

int OpenExclusive(const std::string& port, LineSnapshot& saved) {
  const std::optional<std::string> device = DeviceForPort(port);
  if (!device) Raise(kErrOpen, ENOENT);
  struct stat node {};
  if (const int error = CheckTerminalNode(*device, node)) Raise(kErrOpen, error);
  const int fd = open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Raise(kErrOpen);
  bool exclusive = false;
  const auto fail = [&](int error) {
    if (exclusive) ioctl(fd, TIOCNXCL);
    close(fd);
    Raise(kErrOpen, error);
  };
  // A link may have been turned elsewhere since the node was looked at.
  struct stat opened {};
  if (fstat(fd, &opened) != 0) fail(errno);
  if (opened.st_dev != node.st_dev || opened.st_ino != node.st_ino ||
      opened.st_rdev != node.st_rdev) {
    fail(ENOTTY);
  }
  // The lock keeps out every other opener that locks, root included;
  // TIOCEXCL keeps out ordinary users that do not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) fail(errno);
  // Root passes another opener's TIOCEXCL, so ask for it and refuse the
  // line as the kernel refuses everybody else. The flag outlives a holder
  // that was killed (its lock does not): with nobody else on the line it
  // is stale, and taken over.
  int heldElsewhere = 0;
  if (ioctl(fd, TIOCGEXCL, &heldElsewhere) != 0) fail(errno);
  if (heldElsewhere != 0 && !LineUsers(opened.st_rdev, fd).empty()) fail(EBUSY);
  if (ioctl(fd, TIOCEXCL) != 0) fail(errno);
  exclusive = true;
  if (const int error = saved.Take(fd)) fail(error);
  return fd;
}

void SetModemLines(int fd, unsigned long request, int lines) {
  if (lines != 0 && ioctl(fd, request, &lines) != 0 && !NotSupported(errno)) {
    Raise(kErrSetState);
  }
}

ReceiveRules RulesOf(const LineState& state) {
  ReceiveRules rules;
  rules.discardNull = state.discardNull;
  rules.eventChar = state.eventChar;
  rules.marked = state.parityCheck;
  rules.replace = state.parityCheck && state.parityReplace;
  rules.replaceChar = state.parityReplaceChar;
  return rules;
}

}  // namespace

SerialLine::SerialLine(const std::string& port) : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) Raise(kErrOpen);
  try {
    fd_ = OpenExclusive(port, saved_);
  } catch (...) {
    close(wakeFd_);
    throw;
  }
  char name[64] = {};
  pseudoTerminal_ =
      ttyname_r(fd_, name, sizeof name) == 0 && std::string_view(name).starts_with("/dev/pts/");
}

SerialLine::~SerialLine() {
  // The exclusive flag is ours (opening refuses a line that has it) and
  // outlives this descriptor, where it would keep everybody else out.
  ioctl(fd_, TIOCNXCL);
  saved_.Restore(fd_);
  close(fd_);
  close(wakeFd_);
}

void SerialLine::ApplyState(const LineState& state) {
  const int32_t bitsPerSecond = BitsPerSecond(state.baudRate, state.customBaudRate);
  if (bitsPerSecond <= 0) Raise(kErrSetState, EINVAL);
  termios current{};
  if (tcgetattr(fd_, &current) != 0) Raise(kErrSetState);
  termios wanted = TermiosFor(current, state);
  if (pseudoTerminal_) {
    // A pseudo-terminal carries bytes, not frames: its driver keeps eight
    // data bits without parity whatever it is told, and tcsetattr would
    // report that as a failure.
    wanted.c_cflag = (wanted.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR)) | CS8;
  }
  if (tcsetattr(fd_, TCSANOW, &wanted) != 0) Raise(kErrSetState);
  if (!StandardSpeed(bitsPerSecond)) {
    if (const int error = SetOtherSpeed(fd_, bitsPerSecond)) Raise(kErrSetState, error);
  }
  const ModemLineChange lines = ModemLinesFor(state.controlDTR, state.controlRTS);
  SetModemLines(fd_, TIOCMBIS, lines.raise);
  SetModemLines(fd_, TIOCMBIC, lines.lower);

  std::lock_guard lock(mutex_);
  state_ = state;
  // With input flow control a full queue leaves bytes in the terminal, so
  // the kernel holds the sender back instead of the queue dropping them.
  holdWhenFull_ = (wanted.c_iflag & IXOFF) != 0 || (wanted.c_cflag & CRTSCTS) != 0;
  queue_.SetRules(RulesOf(state));
}

void SerialLine::ApplyTimeouts(const LineTimeouts& timeouts) {
  // Linux has no time-outs in the driver: each transfer applies them itself.
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
}

void SerialLine::ApplyBuffers(int32_t inputSize, int32_t outputSize) {
  // Linux has no call for queue sizes: the input size bounds the port's own
  // queue; the output queue and the XON/XOFF thresholds are the kernel's.
  if (inputSize <= 0 || outputSize <= 0) Raise(kErrSetupQueues, EINVAL);
  std::lock_guard lock(mutex_);
  queue_.SetCapacity(static_cast<size_t>(inputSize));
}

void SerialLine::Purge(bool input, bool output) {
  std::lock_guard lock(mutex_);
  DrainLocked();
  CheckPresentLocked(kErrPurge);
  if (const int error = DiscardLocked(input, output)) Raise(kErrPurge, error);
}

int SerialLine::DiscardLocked(bool input, bool output) {
  // Output that has all left needs no discarding, and on a pseudo-terminal
  // discarding it would drop what the other end has not read yet.
  int unsent = 0;
  if (output && ioctl(fd_, TIOCOUTQ, &unsent) != 0) return errno;
  const bool discardOutput = output && unsent > 0;
  const int queues = input && discardOutput ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if ((input || discardOutput) && tcflush(fd_, queues) != 0) return errno;
  if (input) {
    queue_.Clear();
    if (holdWhenFull_) Wake();
  }
  return 0;
}

int32_t SerialLine::Send(const std::string& text) {
  const PendingTransfer transfer{text};
  LineTimeouts timeouts;
  int32_t bitsPerSecond = 0;
  {
    std::lock_guard lock(mutex_);
    CheckPresentLocked(kErrWrite);
    timeouts = timeouts_;
    bitsPerSecond = BitsPerSecond(state_.baudRate, state_.customBaudRate);
  }
  const std::string& bytes = transfer.bytes;
  if (bytes.empty()) return 0;

  const Deadline deadline = Deadline::After(WriteTimeLimit(timeouts, bytes.size()));
  size_t accepted = 0;
  while (accepted < bytes.size()) {
    const ssize_t written = write(fd_, bytes.data() + accepted, bytes.size() - accepted);
    if (written > 0) {
      accepted += static_cast<size_t>(written);
    } else if (written < 0 && errno == EAGAIN) {
      if (!WaitWritable(deadline)) break;
    } else if (written == 0 || errno != EINTR) {
      Raise(kErrWrite, written == 0 ? EIO : errno);
    }
  }
  const int left = WaitSent(deadline, bitsPerSecond);
  if (left > 0) {
    // The time is up: what the driver still holds is not sent.
    tcflush(fd_, TCOFLUSH);
  } else {
    Record(kFlagTxEmpty, {});
  }
  const size_t unsent = std::min(static_cast<size_t>(left), accepted);
  return static_cast<int32_t>(accepted - unsent);
}

bool SerialLine::WaitWritable(const Deadline& deadline) {
  for (;;) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, deadline.PollMs());
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) Raise(kErrWrite);
  }
}

int SerialLine::WaitSent(const Deadline& deadline, int32_t bitsPerSecond) {
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) Raise(kErrWrite);
    if (queued <= 0) return 0;
    if (deadline.Passed()) return queued;
    // About the time the line needs for what is queued (ten bits a byte),
    // in short steps so the deadline is kept.
    const int64_t lineMs = int64_t{queued} * 10 * 1000 / bitsPerSecond + 1;
    poll(nullptr, 0, deadline.PollMs(static_cast<int>(std::min(lineMs, kSendSliceMs))));
  }
}

int32_t SerialLine::QueueCount() {
  std::lock_guard lock(mutex_);
  DrainLocked();
  CheckPresentLocked(kErrClearError);
  lineErrors_ = {};
  return static_cast<int32_t>(queue_.Size());
}

void SerialLine::WaitForInput(size_t count, const Deadline& deadline) {
  std::unique_lock lock(mutex_);
  for (;;) {
    DrainLocked();
    CheckPresentLocked(kErrClearError);
    // A full queue takes nothing more, so waiting longer cannot help.
    if (queue_.Size() >= count || queue_.Full() || deadline.Passed()) return;
    lock.unlock();
    // The event thread may take the bytes off the descriptor first and
    // leave this poll asleep: look at the queue again after a slice.
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, deadline.PollMs(kReadSliceMs)) < 0 && errno != EINTR) Raise(kErrClearError);
    lock.lock();
  }
}

int32_t SerialLine::Read(std::string& text, int32_t count) {
  PendingTransfer transfer;
  const auto wanted = static_cast<size_t>(count);
  std::unique_lock lock(mutex_);
  const ReadPlan plan = ReadPlanFor(timeouts_, wanted);
  const Deadline total = Deadline::After(plan.total);
  std::optional<Deadline> quiet;
  size_t seen = 0;
  for (;;) {
    DrainLocked();
    CheckPresentLocked(kErrRead);
    // Bytes go into the read as they come, as a driver fills a pending read.
    // A count above the queue's size so never waits on a full queue, which
    // with flow control holds the rest in the terminal, always ready to poll.
    if (queue_.Size() > 0) {
      transfer.bytes += queue_.Take(wanted - transfer.bytes.size());
      if (holdWhenFull_) Wake();
    }
    const size_t have = transfer.bytes.size();
    if (have >= wanted || (have > 0 && plan.returnOnFirstBytes) || total.Passed()) break;
    if (plan.interval && have > seen) {
      quiet = Deadline::After(*plan.interval);
      seen = have;
    }
    if (quiet && quiet->Passed()) break;
    lock.unlock();
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, std::min(total.PollMs(kReadSliceMs), quiet ? quiet->PollMs() : kReadSliceMs));
    lock.lock();
  }
  text = std::move(transfer.bytes);
  return static_cast<int32_t>(text.size());
}

TComErrors SerialLine::TakeLineErrors() {
  std::lock_guard lock(mutex_);
  DrainLocked();
  CheckPresentLocked(kErrClearError);
  return std::exchange(lineErrors_, {});
}

uint32_t SerialLine::ModemStatus() {
  {
    std::lock_guard lock(mutex_);
    CheckPresentLocked(kErrModemStatus);
  }
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    if (NotSupported(errno)) return 0;  // no modem lines: none is on
    Raise(kErrModemStatus);
  }
  return ModemStatusFromLines(lines);
}

void SerialLine::SetEventMask(uint32_t flags) {
  std::lock_guard lock(mutex_);
  eventMask_ = flags;
  pendingEvents_ = 0;
}

void SerialLine::Drain(bool hungUp) {
  std::lock_guard lock(mutex_);
  DrainLocked();
  if (hungUp && hangUpError_ == 0) hangUpError_ = EIO;
}

void SerialLine::DrainLocked() {
  char buffer[512];
  while (hangUpError_ == 0) {
    size_t room = sizeof buffer;
    if (holdWhenFull_) {
      room = std::min(room, queue_.Room());
      if (room == 0) {
        // Held back for flow control: only look whether the device went away.
        pollfd p{fd_, 0, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
          hangUpError_ = EIO;
        }
        return;
      }
    }
    const ssize_t n = read(fd_, buffer, room);
    if (n > 0) {
      const InputQueue::Received received = queue_.Add(buffer, static_cast<size_t>(n));
      RecordLocked(received.flags, received.errors);
    } else if (n < 0 && errno == EAGAIN) {
      return;
    } else if (n == 0 || errno != EINTR) {
      // End of file or a failing read: the device went away.
      hangUpError_ = n == 0 ? EIO : errno;
    }
  }
}

bool SerialLine::WantsInput() {
  std::lock_guard lock(mutex_);
  return hangUpError_ == 0 && !(holdWhenFull_ && queue_.Full());
}

bool SerialLine::HungUp() {
  std::lock_guard lock(mutex_);
  return hangUpError_ != 0;
}

void SerialLine::Record(uint32_t flags, TComErrors errors) {
  std::lock_guard lock(mutex_);
  RecordLocked(flags, errors);
}

void SerialLine::RecordLocked(uint32_t flags, TComErrors errors) {
  if (!state_.parityCheck) errors.Exclude(ceRxParity);
  lineErrors_ = TComErrors::FromBits(lineErrors_.Bits() | errors.Bits());
  const uint32_t fresh = flags & eventMask_ & ~pendingEvents_;
  pendingEvents_ |= fresh;
  if (fresh != 0) Wake();
}

uint32_t SerialLine::TakeEvents() {
  std::lock_guard lock(mutex_);
  return std::exchange(pendingEvents_, 0);
}

void SerialLine::Wake() const {
  const uint64_t one = 1;
  const ssize_t ignored = write(wakeFd_, &one, sizeof one);  // a full counter wakes as well
  static_cast<void>(ignored);
}

void SerialLine::ConsumeWake() const {
  uint64_t count = 0;
  const ssize_t ignored = read(wakeFd_, &count, sizeof count);
  static_cast<void>(ignored);
}

void SerialLine::DiscardQueues() {
  std::lock_guard lock(mutex_);
  DiscardLocked(true, true);  // the device may be gone: nothing left to discard then
}

void SerialLine::CheckPresentLocked(int code) const {
  if (hangUpError_ != 0) Raise(code, hangUpError_);
}

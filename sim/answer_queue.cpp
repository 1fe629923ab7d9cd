#include "sim/answer_queue.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sign_sim {

void AnswerQueue::Add(std::string bytes, Clock::time_point start, Clock::duration gap) {
  if (bytes.empty()) return;
  gap = std::max(gap, Clock::duration::zero());
  Pending answer{std::move(bytes), lastDue_ ? std::max(start, *lastDue_ + gap) : start, gap};
  lastDue_ = answer.DueOf(answer.bytes.size() - 1);
  queue_.push_back(std::move(answer));
}

std::vector<std::string> AnswerQueue::WriteDue(int fd, Clock::time_point now) {
  std::vector<std::string> done;
  waitingForRoom_ = false;
  while (!queue_.empty()) {
    Pending& front = queue_.front();
    // Bytes due by now: all that is left without a gap, else up to the last due one.
    size_t end = front.bytes.size();
    if (front.gap.count() > 0) {
      end = front.written;
      while (end < front.bytes.size() && front.DueOf(end) <= now) ++end;
    } else if (front.start > now) {
      end = front.written;
    }
    if (end == front.written) break;
    const ssize_t n = write(fd, front.bytes.data() + front.written, end - front.written);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        waitingForRoom_ = true;
        break;
      }
      // The line is gone: nothing queued can reach anyone.
      Clear();
      break;
    }
    front.written += static_cast<size_t>(n);
    if (front.written < end) {
      waitingForRoom_ = true;
      break;
    }
    if (front.written == front.bytes.size()) {
      done.push_back(std::move(front.bytes));
      queue_.pop_front();
    }
  }
  return done;
}

std::optional<AnswerQueue::Clock::time_point> AnswerQueue::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().DueOf(queue_.front().written);
}

void AnswerQueue::Clear() {
  queue_.clear();
  lastDue_.reset();
  waitingForRoom_ = false;
}

}  // namespace sign_sim

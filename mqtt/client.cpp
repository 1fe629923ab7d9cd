#include "mqtt/client.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tarvo_mqtt {

namespace {

using Clock = std::chrono::steady_clock;
// How often the library's keepalive and retry bookkeeping runs.
constexpr auto kHousekeeping = std::chrono::seconds(1);

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    mosquitto_lib_init();
    // A write to a socket the broker closed (TLS writes through write(2),
    // without MSG_NOSIGNAL) must fail, not end the program.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      std::signal(SIGPIPE, SIG_IGN);
  });
}

// The socket's pending error (a refused or reset connection), or 0.
int SocketError(int fd) {
  int error = 0;
  socklen_t size = sizeof error;
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return 0;
  return error;
}

bool HungUp(int fd) {
  pollfd polled{fd, POLLIN, 0};
  return fd >= 0 && poll(&polled, 1, 0) == 1 && (polled.revents & (POLLHUP | POLLERR)) != 0;
}

std::string Sentence(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z' &&
      (text.size() < 2 || !(text[1] >= 'A' && text[1] <= 'Z')))
    text.front() = static_cast<char>(text.front() - 'A' + 'a');
  return text;
}

// What a failed certificate check means to the person who set it up.
std::string VerifyFailure(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "hostname mismatch: the broker's certificate is not made out to " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return "unknown CA: the broker's certificate is not signed by the CA of ca_file";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "expired: the broker's certificate is no longer valid";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "the broker's certificate is not valid yet (is this machine's clock right?)";
    default:
      return "the broker's certificate was refused: " +
             std::string(X509_verify_cert_error_string(result));
  }
}

enum class Phase { kIdle, kConnecting, kConnected, kWaiting, kStopped };

}  // namespace

struct Client::Impl {
  ClientSettings settings;
  ClientCallbacks callbacks;
  BrokerUrl broker;
  mosquitto* mosq = nullptr;
  Phase phase = Phase::kIdle;
  uint64_t attempts = 0;
  std::vector<std::pair<std::string, int>> subscriptions;
  Clock::time_point attemptStarted;
  Clock::time_point retryAt;
  Clock::time_point housekeepingAt;
  std::chrono::milliseconds nextDelay{0};
  std::string refusal;    // the broker's answer to the last CONNECT, when it refused
  std::string lastError;  // the library's last error-level log line (TLS details)
  std::string tlsFailure;  // the certificate check's verdict, in words
  std::minstd_rand random{std::random_device{}()};
  Interest notified;
  std::set<int> unacknowledged;  // message ids of QoS 1 messages sent
  struct Happening {
    enum Kind { kConnected, kLost, kMessage } kind;
    int rc;
    Message message;
    int error = 0;    // errno when the library said so, taken at once
  };
  std::deque<Happening> happenings;  // said by the library, not yet handed on
  bool dispatching = false;

  static Impl& Of(void* object) { return *static_cast<Impl*>(object); }

  void Attempt() {
    phase = Phase::kConnecting;
    refusal.clear();
    lastError.clear();
    tlsFailure.clear();
    attemptStarted = Clock::now();
    housekeepingAt = attemptStarted + kHousekeeping;
    if (callbacks.will) {
      const std::optional<Will> will = callbacks.will();
      if (will)
        mosquitto_will_set(mosq, will->topic.c_str(), static_cast<int>(will->payload.size()),
                           will->payload.data(), 1, will->retain);
      else
        mosquitto_will_clear(mosq);
    }
    int rc = MOSQ_ERR_SUCCESS;
    {
      // The library sets TLS up at the first TLS connection without a lock
      // of its own: clients on several threads take turns.
      static std::mutex connecting;
      std::lock_guard lock(connecting);
      rc = attempts > 0 ? mosquitto_reconnect_async(mosq)
                        : mosquitto_connect_async(mosq, broker.host.c_str(), broker.port,
                                                  settings.keepaliveS);
    }
    const int error = errno;
    ++attempts;
    // Programs we start must not hold our connection open.
    if (const int fd = mosquitto_socket(mosq); fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (rc != MOSQ_ERR_SUCCESS) Lost(rc, error);
  }

  // `error`: errno as it was when the library failed, not as it is now.
  std::string Reason(int rc, int error) const {
    if (!refusal.empty()) return refusal;
    if (!tlsFailure.empty()) return "TLS: " + tlsFailure;
    std::string reason = rc == MOSQ_ERR_ERRNO && error != 0 ? std::strerror(error)
                         : rc == MOSQ_ERR_ERRNO             ? "connection lost"
                                                            : mosquitto_strerror(rc);
    reason = Sentence(reason);
    // The library says what failed in TLS only in its log.
    if (!lastError.empty()) reason += " (" + lastError + ")";
    return reason;
  }

  // The connection or the attempt is over: schedule the next one.
  void Lost(int rc, int error = 0) {
    if (phase == Phase::kStopped || phase == Phase::kWaiting) return;
    // A TLS handshake's first write meets the reset of a refused connect
    // and the library reports that, not the refusal.
    if (phase == Phase::kConnecting && (error == EPIPE || error == ECONNRESET)) error = ECONNREFUSED;
    const std::string reason = Reason(rc, error);
    if (mosquitto_socket(mosq) >= 0) mosquitto_disconnect(mosq);
    phase = Phase::kWaiting;
    if (nextDelay.count() == 0) nextDelay = settings.firstRetry;
    const auto jitter = std::uniform_int_distribution<int64_t>(0, nextDelay.count() / 4)(random);
    retryAt = Clock::now() + nextDelay - std::chrono::milliseconds(jitter);
    nextDelay = std::min(nextDelay * 2, settings.longestRetry);
    if (callbacks.disconnected) callbacks.disconnected(reason);
  }

  static void OnConnect(mosquitto*, void* object, int rc) {
    Impl& self = Of(object);
    if (rc != 0) {
      // "Connection Refused: not authorised." as "refused: not authorised".
      std::string text = mosquitto_connack_string(rc);
      const std::string prefix = "Connection Refused: ";
      if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
      if (!text.empty() && text.back() == '.') text.pop_back();
      self.refusal = "refused: " + text;
      return;  // the library ends the connection; OnDisconnect follows
    }
    self.happenings.push_back({Happening::kConnected, 0, {}, 0});
  }

  static void OnDisconnect(mosquitto*, void* object, int rc) {
    const int error = errno;
    Of(object).happenings.push_back(
        {Happening::kLost, rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, {}, error});
  }

  void SubscribeNow(const std::string& filter, int qos) {
    mosquitto_subscribe(mosq, nullptr, filter.c_str(), qos);
  }

  static void OnMessage(mosquitto*, void* object, const mosquitto_message* message) {
    Of(object).happenings.push_back({Happening::kMessage,
                                     0,
                                     {message->topic,
                                      std::string(static_cast<const char*>(message->payload),
                                                  static_cast<size_t>(message->payloadlen)),
                                      message->retain}});
  }

  // Hands what the library said to our callbacks, after the library's call
  // has returned: a callback may call the client (publish on connecting),
  // and the library's own locks are never held meanwhile.
  void Dispatch() {
    if (dispatching) return;
    dispatching = true;
    while (!happenings.empty()) {
      Happening happening = std::move(happenings.front());
      happenings.pop_front();
      switch (happening.kind) {
        case Happening::kConnected:
          if (phase != Phase::kConnecting) break;  // stopped or given up meanwhile
          phase = Phase::kConnected;
          nextDelay = std::chrono::milliseconds(0);
          for (const auto& [filter, qos] : subscriptions) SubscribeNow(filter, qos);
          if (callbacks.connected) callbacks.connected();
          break;
        case Happening::kLost:
          Lost(happening.rc, happening.error);
          break;
        case Happening::kMessage:
          if (callbacks.message) callbacks.message(happening.message);
          break;
      }
    }
    dispatching = false;
  }

  static void OnPublish(mosquitto*, void* object, int mid) { Of(object).unacknowledged.erase(mid); }

  static void OnLog(mosquitto* mosq, void* object, int level, const char* text) {
    if (level != MOSQ_LOG_ERR) return;
    Impl& self = Of(object);
    self.lastError = text;
    // The handshake failed: the certificate check says why in words, while
    // the library still holds the connection's TLS state.
    auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(mosq));
    if (ssl != nullptr && self.tlsFailure.empty())
      if (const long result = SSL_get_verify_result(ssl); result != X509_V_OK)
        self.tlsFailure = VerifyFailure(result, self.broker.host);
  }

  // A socket that went away without the library saying so (a failed write
  // inside publish), or one the system says is over (a refused TLS connect
  // that the library keeps waiting on), ends the connection all the same.
  // `readError`: errno after the library's read, which may have taken the
  // socket's error already.
  void CheckSocket(bool ready = false, int readError = 0) {
    if (phase != Phase::kConnecting && phase != Phase::kConnected) return;
    const int fd = mosquitto_socket(mosq);
    if (fd < 0) return Lost(MOSQ_ERR_CONN_LOST);
    if (!ready || !HungUp(fd)) return;
    int error = SocketError(fd);
    if (error == 0 && readError != EAGAIN && readError != EWOULDBLOCK) error = readError;
    Lost(error != 0 ? MOSQ_ERR_ERRNO : MOSQ_ERR_CONN_LOST, error);
  }

  Interest Wanted() const {
    Interest interest;
    switch (phase) {
      case Phase::kConnecting:
        interest.wakeAt = std::min(housekeepingAt, attemptStarted + settings.connectTimeout);
        break;
      case Phase::kConnected:
        interest.wakeAt = housekeepingAt;
        break;
      case Phase::kWaiting:
        interest.wakeAt = retryAt;
        break;
      case Phase::kIdle:
      case Phase::kStopped:
        break;
    }
    // A socket the library could not close (a TLS connect that failed) is
    // not ours to watch once the attempt is over: it would only say "hung up".
    const bool live = phase == Phase::kConnecting || phase == Phase::kConnected ||
                      phase == Phase::kStopped;  // until the goodbye is out
    interest.fd = live ? mosquitto_socket(mosq) : -1;
    interest.attempt = attempts;
    interest.write = interest.fd >= 0 && mosquitto_want_write(mosq);
    return interest;
  }

  void Notify(bool ready = false, int readError = 0) {
    Dispatch();
    CheckSocket(ready, readError);
    const Interest now = Wanted();
    if (now.fd == notified.fd && now.write == notified.write && now.wakeAt == notified.wakeAt &&
        now.attempt == notified.attempt)
      return;
    notified = now;
    if (callbacks.interestChanged) callbacks.interestChanged();
  }
};

Client::Client(ClientSettings settings, ClientCallbacks callbacks) : impl_(new Impl) {
  InitLibrary();
  Impl& self = *impl_;
  self.broker = ParseBrokerUrl(settings.url);
  const std::string password = ReadPassword(settings.passwordFile);
  self.settings = std::move(settings);
  self.callbacks = std::move(callbacks);
  const char* id = self.settings.clientId.empty() ? nullptr : self.settings.clientId.c_str();
  self.mosq = mosquitto_new(id, self.settings.cleanSession, &self);
  if (self.mosq == nullptr)
    throw std::invalid_argument("cannot make an MQTT client: " + std::string(std::strerror(errno)));
  mosquitto_connect_callback_set(self.mosq, &Impl::OnConnect);
  mosquitto_disconnect_callback_set(self.mosq, &Impl::OnDisconnect);
  mosquitto_message_callback_set(self.mosq, &Impl::OnMessage);
  mosquitto_log_callback_set(self.mosq, &Impl::OnLog);
  mosquitto_publish_callback_set(self.mosq, &Impl::OnPublish);
  // The library writes a PUBACK at once, before it hands the message on,
  // unless it believes a thread of its own writes: then every packet waits
  // for OnReady's write, which comes after the callbacks.
  if (self.settings.acknowledgeAfterHandling) mosquitto_threaded_set(self.mosq, true);
  if (!self.settings.username.empty())
    mosquitto_username_pw_set(self.mosq, self.settings.username.c_str(),
                              password.empty() ? nullptr : password.c_str());
  if (self.broker.tls) {
    const auto file = [](const std::string& name) { return name.empty() ? nullptr : name.c_str(); };
    const int rc =
        mosquitto_tls_set(self.mosq, file(self.settings.caFile),
                          self.settings.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                          file(self.settings.certFile), file(self.settings.keyFile), nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      throw std::invalid_argument(std::string("TLS settings refused: ") + mosquitto_strerror(rc) +
                                  " (check ca_file, cert_file and key_file)");
  }
}

Client::~Client() { mosquitto_destroy(impl_->mosq); }

void Client::Start() {
  if (impl_->phase == Phase::kIdle) impl_->Attempt();
  impl_->Notify();
}

void Client::Stop() {
  const bool open = mosquitto_socket(impl_->mosq) >= 0;
  impl_->phase = Phase::kStopped;
  if (open) mosquitto_disconnect(impl_->mosq);
  impl_->Notify();
}

void Client::Subscribe(const std::string& filter, int qos) {
  impl_->subscriptions.emplace_back(filter, qos);
  if (impl_->phase == Phase::kConnected) impl_->SubscribeNow(filter, qos);
  impl_->Notify();
}

bool Client::Publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
  int mid = 0;
  const int rc = mosquitto_publish(impl_->mosq, &mid, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (rc == MOSQ_ERR_SUCCESS && qos > 0) impl_->unacknowledged.insert(mid);
  impl_->Notify();
  return rc == MOSQ_ERR_SUCCESS;
}

bool Client::Connected() const { return impl_->phase == Phase::kConnected; }

int Client::Unacknowledged() const { return static_cast<int>(impl_->unacknowledged.size()); }

Interest Client::Wanted() const { return impl_->Wanted(); }

void Client::OnReady(bool readable, bool writable) {
  // A connect the system refused: said before the library's read or write
  // takes the socket's error and leaves a broken pipe in its place.
  if (impl_->phase == Phase::kConnecting && (readable || writable))
    if (const int error = SocketError(mosquitto_socket(impl_->mosq)); error != 0) {
      impl_->Lost(MOSQ_ERR_ERRNO, error);
      return impl_->Notify();
    }
  errno = 0;
  if (readable) mosquitto_loop_read(impl_->mosq, 1);
  const int readError = errno;
  // Before anything read is acknowledged by the write below.
  if (readable) impl_->Dispatch();
  if (writable && mosquitto_socket(impl_->mosq) >= 0) mosquitto_loop_write(impl_->mosq, 1);
  impl_->Notify(readable, readError);
}

void Client::OnTimer() {
  Impl& self = *impl_;
  const Clock::time_point now = Clock::now();
  if (self.phase == Phase::kWaiting && now >= self.retryAt) {
    self.Attempt();
  } else if (self.phase == Phase::kConnecting &&
             now >= self.attemptStarted + self.settings.connectTimeout) {
    self.refusal = "no answer from the broker within " +
                   std::to_string(self.settings.connectTimeout.count() / 1000) + " s";
    self.Lost(MOSQ_ERR_CONN_LOST);
  } else if (now >= self.housekeepingAt) {
    self.housekeepingAt = now + kHousekeeping;
    if (mosquitto_loop_misc(self.mosq) != MOSQ_ERR_SUCCESS) self.CheckSocket();
  }
  self.Notify();
}

}  // namespace tarvo_mqtt

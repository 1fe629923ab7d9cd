#include "office/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <time.h>

namespace office {

namespace {

// A request body larger than this is refused unread.
constexpr size_t kBodyLimit = 64 * 1024;
// Comments on idle streams, so that a client that left is found out.
constexpr uint64_t kKeepaliveUs = 15'000'000;

struct Pending {
  HttpRequest request;
  bool tooLarge = false;
};

uint64_t MonotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

MHD_Result Collect(void* into, MHD_ValueKind, const char* key, const char* value) {
  auto& map = *static_cast<std::map<std::string, std::string>*>(into);
  std::string name = key ? key : "";
  map[name] = value ? value : "";
  return MHD_YES;
}

bool LoopbackPeer(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return false;
  if (info->client_addr->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(info->client_addr);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (info->client_addr->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(info->client_addr);
    return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
  }
  return false;
}

}  // namespace

HttpServer::HttpServer(sd_event* loop, const HttpSettings& settings, Handler handler)
    : settings_(settings), handler_(std::move(handler)), loop_(loop) {
  sockaddr_storage address{};
  socklen_t length = 0;
  unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, settings_.address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(settings_.port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, settings_.address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(settings_.port));
    length = sizeof *v6;
    flags |= MHD_USE_IPv6;
  } else {
    throw std::runtime_error("cannot listen on \"" + settings_.address + "\": not an address");
  }
  (void)length;
  const bool tls = !settings_.certPem.empty();
  if (tls) flags |= MHD_USE_TLS;
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &HttpServer::OnRequest, this, MHD_OPTION_SOCK_ADDR, &address,
      MHD_OPTION_NOTIFY_COMPLETED, &HttpServer::OnCompleted, this,
      MHD_OPTION_CONNECTION_TIMEOUT, 60u, MHD_OPTION_CONNECTION_LIMIT, 1024u,
      tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, settings_.certPem.c_str(),
      MHD_OPTION_HTTPS_MEM_KEY, settings_.keyPem.c_str(), MHD_OPTION_END);
  if (daemon_ == nullptr)
    throw std::runtime_error("cannot listen on " + settings_.address + ":" +
                             std::to_string(settings_.port) + ": " + std::strerror(errno));
  port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
  const int epoll = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
  sd_event_add_io(loop_, &io_, epoll, EPOLLIN, &HttpServer::OnIo, this);
  sd_event_add_time(loop_, &timer_, CLOCK_MONOTONIC, 0, 1000, &HttpServer::OnTime, this);
  sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
  sd_event_add_time(loop_, &keepalive_, CLOCK_MONOTONIC, MonotonicUs() + kKeepaliveUs, 1'000'000,
                    &HttpServer::OnKeepalive, this);
  Run();
}

HttpServer::~HttpServer() {
  sd_event_source_unref(io_);
  sd_event_source_unref(timer_);
  sd_event_source_unref(keepalive_);
  for (Stream& stream : streams_)
    if (stream.suspended) MHD_resume_connection(stream.connection);
  MHD_stop_daemon(daemon_);
}

void HttpServer::Run() {
  MHD_run(daemon_);
  MHD_UNSIGNED_LONG_LONG timeout = 0;
  if (MHD_get_timeout(daemon_, &timeout) == MHD_YES) {
    sd_event_source_set_time(timer_, MonotonicUs() + timeout * 1000);
    sd_event_source_set_enabled(timer_, SD_EVENT_ONESHOT);
  } else {
    sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
  }
}

int HttpServer::OnIo(sd_event_source*, int, uint32_t, void* self) {
  static_cast<HttpServer*>(self)->Run();
  return 0;
}

int HttpServer::OnTime(sd_event_source*, uint64_t, void* self) {
  static_cast<HttpServer*>(self)->Run();
  return 0;
}

int HttpServer::OnKeepalive(sd_event_source* source, uint64_t, void* self) {
  auto& server = *static_cast<HttpServer*>(self);
  for (Stream& stream : server.streams_) {
    stream.pending += ": keepalive\n\n";
    server.Resume(stream);
  }
  sd_event_source_set_time(source, MonotonicUs() + kKeepaliveUs);
  sd_event_source_set_enabled(source, SD_EVENT_ON);
  server.Run();
  return 0;
}

void HttpServer::Resume(Stream& stream) {
  if (!stream.suspended) return;
  stream.suspended = false;
  MHD_resume_connection(stream.connection);
}

void HttpServer::Broadcast(const std::string& topic, const std::string& event,
                           const std::string& data) {
  for (Stream& stream : streams_) {
    if (!stream.topic.empty() && stream.topic != topic) continue;
    stream.pending += "event: " + event + "\ndata: " + data + "\n\n";
    Resume(stream);
  }
  Run();
}

ssize_t HttpServer::ReadStream(void* object, uint64_t, char* buffer, size_t size) {
  auto& stream = *static_cast<Stream*>(object);
  if (stream.pending.empty()) {
    // Nothing to say: off MHD's loop until Broadcast has something.
    stream.suspended = true;
    MHD_suspend_connection(stream.connection);
    return 0;
  }
  const size_t n = std::min(size, stream.pending.size());
  std::memcpy(buffer, stream.pending.data(), n);
  stream.pending.erase(0, n);
  return static_cast<ssize_t>(n);
}

void HttpServer::FreeStream(void* object) {
  auto* stream = static_cast<Stream*>(object);
  std::list<Stream>& streams = stream->server->streams_;
  for (auto it = streams.begin(); it != streams.end(); ++it)
    if (&*it == stream) {
      streams.erase(it);
      return;
    }
}

MHD_Result HttpServer::OnRequest(void* object, MHD_Connection* connection, const char* url,
                                 const char* method, const char*, const char* upload,
                                 size_t* uploadSize, void** context) {
  auto& server = *static_cast<HttpServer*>(object);
  if (*context == nullptr) {
    auto* pending = new Pending;
    pending->request.method = method;
    pending->request.path = url;
    *context = pending;
    return MHD_YES;
  }
  auto& pending = *static_cast<Pending*>(*context);
  if (*uploadSize > 0) {
    if (pending.request.body.size() + *uploadSize > kBodyLimit)
      pending.tooLarge = true;
    else
      pending.request.body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  HttpRequest& request = pending.request;
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &Collect, &request.query);
  std::map<std::string, std::string> headers;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &Collect, &headers);
  for (auto& [name, value] : headers) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    request.headers[lower] = value;
  }
  request.loopbackPeer = LoopbackPeer(connection);
  request.tls = !server.settings_.certPem.empty();
  HttpResponse answer;
  if (pending.tooLarge) {
    answer.status = MHD_HTTP_CONTENT_TOO_LARGE;
    answer.body = R"({"error":"the request body is larger than 64 KiB"})";
  } else {
    try {
      answer = server.handler_(request);
    } catch (const std::exception& error) {
      answer = {};
      answer.status = MHD_HTTP_INTERNAL_SERVER_ERROR;
      answer.body = nlohmann::json{{"error", error.what()}}.dump();
    }
  }
  MHD_Response* response = nullptr;
  if (answer.stream) {
    Stream& stream = server.streams_.emplace_back(Stream{&server, connection, answer.streamTopic,
                                                         ": stream open\n\n", false});
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &HttpServer::ReadStream,
                                                 &stream, &HttpServer::FreeStream);
    answer.contentType = "text/event-stream";
    answer.headers.emplace_back("Cache-Control", "no-store");
  } else {
    response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                               MHD_RESPMEM_MUST_COPY);
  }
  MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "X-Frame-Options", "DENY");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  for (const auto& [name, value] : answer.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

void HttpServer::OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*context);
  *context = nullptr;
}

}  // namespace office

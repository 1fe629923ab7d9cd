#pragma once
// libmicrohttpd inside the service's sd-event loop: MHD's own epoll
// descriptor is one io source, MHD_get_timeout one time source, so every
// request runs on the loop's thread. Server-sent-event streams stay open,
// suspended while they have nothing to say, and are resumed by Broadcast.

#include <microhttpd.h>
#include <systemd/sd-event.h>

#include <functional>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace office {

struct HttpRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> query;
  std::map<std::string, std::string> headers;  // names in lowercase
  std::string body;
  bool loopbackPeer = false;
  bool tls = false;
  bool Has(const std::string& header) const { return headers.count(header) > 0; }
  std::string Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
  }
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // A live stream of server-sent events: each Broadcast whose topic is
  // `streamTopic` (or any, when empty) is sent until the client leaves.
  bool stream = false;
  std::string streamTopic;
};

struct HttpSettings {
  std::string address;
  int port = 0;  // 0: the kernel picks one (Port() says which)
  std::string certPem;
  std::string keyPem;
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;
  // Throws std::runtime_error when it cannot listen.
  HttpServer(sd_event* loop, const HttpSettings& settings, Handler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int Port() const { return port_; }
  // One event to every stream of `topic` and to the streams of every topic.
  void Broadcast(const std::string& topic, const std::string& event, const std::string& data);
  size_t Streams() const { return streams_.size(); }

 private:
  struct Stream {
    HttpServer* server;
    MHD_Connection* connection;
    std::string topic;
    std::string pending;
    bool suspended = false;
  };
  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* upload,
                              size_t* uploadSize, void** context);
  static void OnCompleted(void* self, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode code);
  static ssize_t ReadStream(void* stream, uint64_t position, char* buffer, size_t size);
  static void FreeStream(void* stream);
  static int OnIo(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnTime(sd_event_source* source, uint64_t usec, void* self);
  static int OnKeepalive(sd_event_source* source, uint64_t usec, void* self);
  void Run();
  void Resume(Stream& stream);

  HttpSettings settings_;
  Handler handler_;
  MHD_Daemon* daemon_ = nullptr;
  sd_event* loop_;
  sd_event_source* io_ = nullptr;
  sd_event_source* timer_ = nullptr;
  sd_event_source* keepalive_ = nullptr;
  std::list<Stream> streams_;
  int port_ = 0;
};

}  // namespace office

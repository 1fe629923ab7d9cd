#pragma once
// One HTTP/1.1 request to 127.0.0.1 over a fresh connection, as a browser
// or curl would send it; enough for the office's API and its streams.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace tarvo::test {

struct HttpAnswer {
  int status = 0;  // 0: no answer
  std::map<std::string, std::string> headers;  // names in lowercase
  std::string body;
};

inline int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline HttpAnswer ParseAnswer(const std::string& raw) {
  HttpAnswer answer;
  const size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return answer;
  answer.status = std::stoi(raw.substr(9, 3));
  size_t at = raw.find("\r\n") + 2;
  while (at < end) {
    const size_t line = raw.find("\r\n", at);
    const std::string header = raw.substr(at, line - at);
    const size_t colon = header.find(':');
    std::string name = header.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    answer.headers[name] = header.substr(header.find_first_not_of(' ', colon + 1));
    at = line + 2;
  }
  answer.body = raw.substr(end + 4);
  if (answer.headers["transfer-encoding"] == "chunked") {
    std::string body;
    size_t pos = 0;
    while (pos < answer.body.size()) {
      const size_t line = answer.body.find("\r\n", pos);
      if (line == std::string::npos) break;
      const size_t size = std::stoul(answer.body.substr(pos, line - pos), nullptr, 16);
      body += answer.body.substr(line + 2, size);
      pos = line + 2 + size + 2;
      if (size == 0) break;
    }
    answer.body = body;
  }
  return answer;
}

// `headers`: whole lines such as "Cookie: a=b".
inline HttpAnswer Http(int port, const std::string& method, const std::string& path,
                       const std::vector<std::string>& headers = {}, const std::string& body = "") {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return {};
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(port) + "\r\nConnection: close\r\n";
  for (const std::string& header : headers) request += header + "\r\n";
  if (!body.empty() || method == "POST" || method == "PUT")
    request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string raw;
  pollfd wait{fd, POLLIN, 0};
  while (poll(&wait, 1, 20000) > 0) {
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ParseAnswer(raw);
}

}  // namespace tarvo::test

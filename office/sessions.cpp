#include "office/sessions.h"

#include <sys/random.h>

#include <stdexcept>

namespace office {

namespace {

constexpr auto kIdle = std::chrono::hours(12);

std::string CookieOf(const HttpRequest& request) {
  const std::string header = request.Header("cookie");
  const std::string key = std::string(kSessionCookie) + "=";
  size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
    const size_t end = std::min(header.find(';', at), header.size());
    if (header.compare(at, key.size(), key) == 0) return header.substr(at + key.size(), end - at - key.size());
    at = end;
  }
  return "";
}

}  // namespace

std::string RandomToken() {
  unsigned char bytes[32];
  if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes)
    throw std::runtime_error("no random bytes from the kernel");
  static const char* kHex = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

std::string Sessions::Open(const User& user, bool tls, Session& opened) {
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(sessions_, [&](const auto& entry) { return entry.second.expires <= now; });
  const std::string id = RandomToken();
  opened = {user, RandomToken(), now + kIdle};
  sessions_[id] = opened;
  return std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" +
         (tls ? "; Secure" : "");
}

void Sessions::Close(const HttpRequest& request) { sessions_.erase(CookieOf(request)); }

const Session* Sessions::Find(const HttpRequest& request) {
  const auto found = sessions_.find(CookieOf(request));
  if (found == sessions_.end()) return nullptr;
  const auto now = std::chrono::steady_clock::now();
  if (found->second.expires <= now) {
    sessions_.erase(found);
    return nullptr;
  }
  found->second.expires = now + kIdle;
  return &found->second;
}

std::optional<std::string> Sessions::CrossSite(const HttpRequest& request, const Session* session) {
  if (request.Header("sec-fetch-site") == "cross-site") return "a request from another site";
  if (request.Has("origin")) {
    const std::string expected = (request.tls ? "https://" : "http://") + request.Header("host");
    if (request.Header("origin") != expected) return "a request from another site (Origin)";
  }
  if (session != nullptr && request.Header("x-csrf-token") != session->csrf)
    return "the X-CSRF-Token header is missing or wrong";
  return std::nullopt;
}

std::string Sessions::ExpiredCookie(bool tls) {
  return std::string(kSessionCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
         (tls ? "; Secure" : "");
}

}  // namespace office

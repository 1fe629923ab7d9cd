#pragma once
// Logged-in users of the web page: a random session id in an HttpOnly,
// SameSite=Strict cookie (Secure under TLS) and, per session, a token that
// every state-changing request must carry in X-CSRF-Token. Sessions live in
// memory: a restart of the service asks everyone to log in again.

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "office/http_server.h"
#include "office/users.h"

namespace office {

struct Session {
  User user;
  std::string csrf;
  std::chrono::steady_clock::time_point expires;
};

inline constexpr const char* kSessionCookie = "tarvo_session";

// 32 random bytes in hex.
std::string RandomToken();

class Sessions {
 public:
  // The Set-Cookie value of the new session.
  std::string Open(const User& user, bool tls, Session& opened);
  void Close(const HttpRequest& request);
  // The request's session, if it has a live one (its idle time starts again).
  const Session* Find(const HttpRequest& request);
  // Why a state-changing request may not run, or nothing: a missing or
  // wrong X-CSRF-Token, an Origin of another site.
  static std::optional<std::string> CrossSite(const HttpRequest& request, const Session* session);
  static std::string ExpiredCookie(bool tls);

 private:
  std::map<std::string, Session> sessions_;
};

}  // namespace office

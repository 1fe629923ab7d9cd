#pragma once
// tarvo-office as a process of its own against the test's broker, with its
// state in a folder of the test, on a free loopback port; and a logged-in
// web user's headers.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/office/http_client.h"
#include "tests/support/child_process.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/wait_for.h"

namespace tarvo::test {

inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class OfficeProcess {
 public:
  // `extra`: more lines of office.toml (sections after [broker] and [http]).
  // `tls`: HTTPS with the broker's own certificate (made out to 127.0.0.1).
  OfficeProcess(const MosquittoBroker& broker, std::string folder, std::string extra = "",
                bool tls = false)
      : broker_(broker), folder_(std::move(folder)), extra_(std::move(extra)), tls_(tls),
        port_(FreePort()) {}
  ~OfficeProcess() {
    if (process_) Stop();
  }

  void Start() {
    WriteConfig();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TARVO_OFFICE_PROGRAM, "--config", folder_ + "/office.toml"});
    if (!WaitFor([&] { return tls_ ? Curl({"-o", "/dev/null", "/login"}).status == 0
                                   : Http(port_, "GET", "/login").status == 200; },
                 std::chrono::seconds(20)))
      throw std::runtime_error("tarvo-office did not answer: " + Stop().err);
  }
  ProcessResult Stop(int signal = SIGTERM) {
    process_->Signal(signal);
    ProcessResult result = process_->Finish();
    process_.reset();
    return result;
  }
  // `tarvo-office passwd USER --role ROLE` with the password on stdin.
  void AddUser(const std::string& user, const std::string& role, const std::string& password) {
    WriteConfig();
    const std::string input = folder_ + "/password-" + user;
    std::ofstream(input) << password << "\n";
    const std::string line = std::string(TARVO_OFFICE_PROGRAM) + " --config " + folder_ +
                             "/office.toml passwd " + user + " --role " + role + " < " + input;
    mkdir((folder_ + "/state").c_str(), 0750);
    if (std::system(line.c_str()) != 0) throw std::runtime_error("passwd failed: " + line);
  }
  // The headers of a logged-in user: its cookie and CSRF token.
  std::vector<std::string> Login(const std::string& user, const std::string& password) const {
    const HttpAnswer answer = Http(port_, "POST", "/api/v1/login", {},
                                   nlohmann::json{{"user", user}, {"password", password}}.dump());
    if (answer.status != 200) throw std::runtime_error("login failed: " + answer.body);
    const std::string cookie = answer.headers.at("set-cookie");
    return {"Cookie: " + cookie.substr(0, cookie.find(';')),
            "X-CSRF-Token: " + nlohmann::json::parse(answer.body)["csrf"].get<std::string>()};
  }
  nlohmann::json Get(const std::vector<std::string>& session, const std::string& path) const {
    const HttpAnswer answer = Http(port_, "GET", path, session);
    if (answer.status != 200) return nlohmann::json();
    return nlohmann::json::parse(answer.body);
  }

  // curl over HTTPS, trusting the broker's CA: `args` then the path last.
  ProcessResult Curl(std::vector<std::string> args) const {
    std::vector<std::string> line = {"/usr/bin/curl", "-sS", "--cacert", broker_.CaFile()};
    const std::string path = args.back();
    args.pop_back();
    line.insert(line.end(), args.begin(), args.end());
    line.push_back("https://127.0.0.1:" + std::to_string(port_) + path);
    return ChildProcess(line).Finish();
  }
  int Port() const { return port_; }
  pid_t Pid() const { return process_ ? process_->Pid() : -1; }
  const std::string& Folder() const { return folder_; }

 private:
  // Once the broker runs: its port is known from then on.
  void WriteConfig() const {
    std::ofstream config(folder_ + "/office.toml");
    config << "state_dir = \"" << folder_ << "/state\"\nweb_dir = \"" << TARVO_OFFICE_WEB_SOURCE
        << "\"\n[broker]\nurl = \"" << broker_.Url() << "\"\nusername = \"head-office\"\n"
        << "password_file = \"" << broker_.PasswordFile("head-office") << "\"\n"
        << "[http]\nlisten = \"127.0.0.1:" << port_ << "\"\npush_timeout_s = 20\n";
    if (tls_)
      config << "cert_file = \"" << broker_.CaFile().substr(0, broker_.CaFile().rfind('/'))
             << "/server.crt\"\nkey_file = \"" << broker_.CaFile().substr(0, broker_.CaFile().rfind('/'))
             << "/server.key\"\n";
    config << extra_;
  }

  const MosquittoBroker& broker_;
  std::string folder_;
  std::string extra_;
  bool tls_;
  int port_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace tarvo::test

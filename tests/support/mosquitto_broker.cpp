#include "tests/support/mosquitto_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/support/child_process.h"
#include "tests/support/wait_for.h"

extern char** environ;

namespace tarvo::test {

namespace {

void Run(std::vector<std::string> line) {
  const std::string what = line[0];
  const ProcessResult result = RunProgram(std::move(line));
  if (result.status != 0)
    throw std::runtime_error(what + " failed (" + std::to_string(result.status) +
                             "): " + result.err);
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A port that nobody listens on now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return accepted;
}

void MakeCertificates(const std::string& folder) {
  const auto key = [](const std::string& file) {
    return std::vector<std::string>{
        "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", file};
  };
  for (const std::string ca : {"ca", "other-ca"}) {
    std::vector<std::string> line = {"/usr/bin/openssl",
                                     "req",
                                     "-x509",
                                     "-days",
                                     "2",
                                     "-subj",
                                     "/CN=tarvo test " + ca,
                                     "-out",
                                     folder + "/" + ca + ".crt"};
    for (const std::string& part : key(folder + "/" + ca + ".key")) line.push_back(part);
    Run(line);
  }
  std::vector<std::string> request = {"/usr/bin/openssl", "req",  "-subj",
                                      "/CN=127.0.0.1",    "-out", folder + "/server.csr"};
  for (const std::string& part : key(folder + "/server.key")) request.push_back(part);
  Run(request);
  Write(folder + "/server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  Run({"/usr/bin/openssl", "x509", "-req", "-days", "2", "-in", folder + "/server.csr", "-CA",
       folder + "/ca.crt", "-CAkey", folder + "/ca.key", "-CAcreateserial", "-extfile",
       folder + "/server.ext", "-out", folder + "/server.crt"});
}

}  // namespace

MosquittoBroker::MosquittoBroker(std::string folder, std::vector<Account> accounts)
    : folder_(std::move(folder)) {
  bool first = true;
  for (const Account& account : accounts) {
    std::vector<std::string> line = {"/usr/bin/mosquitto_passwd", "-b"};
    if (first) line.push_back("-c");
    line.insert(line.end(), {folder_ + "/passwd", account.user, account.password});
    Run(line);
    Write(PasswordFile(account.user), account.password + "\n");
    first = false;
  }
  MakeCertificates(folder_);
}

MosquittoBroker::~MosquittoBroker() {
  if (pid_ > 0) End(SIGKILL);
}

std::string MosquittoBroker::PasswordFile(const std::string& user) const {
  return folder_ + "/" + user + ".password";
}

std::string MosquittoBroker::Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

std::string MosquittoBroker::TlsUrl() const {
  return "mqtts://127.0.0.1:" + std::to_string(tlsPort_);
}

// The package's example configuration with the test's folder for its files
// and the test's ports for its listeners.
std::string MosquittoBroker::Configuration() const {
  std::ifstream shipped(TARVO_BROKER_CONF);
  if (!shipped) throw std::runtime_error("cannot read " TARVO_BROKER_CONF);
  const std::string f = folder_;
  // As root mosquitto would become user mosquitto, who cannot read the test's files;
  // Debian's own mosquitto.conf turns persistence on.
  std::string text = "user root\npersistence true\npersistence_location " + f +
                     "/\nlog_dest file " + f + "/mosquitto.log\n";
  const std::pair<std::string, std::string> local[] = {
      {"password_file ", "password_file " + f + "/passwd"},
      {"acl_file ", "acl_file " TARVO_BROKER_ACL},
      {"listener 1883", "listener " + std::to_string(port_) + " 127.0.0.1"},
      {"listener 8883", "listener " + std::to_string(tlsPort_) + " 127.0.0.1"},
      {"cafile ", "cafile " + f + "/ca.crt"},
      {"certfile ", "certfile " + f + "/server.crt"},
      {"keyfile ", "keyfile " + f + "/server.key"}};
  for (std::string line; std::getline(shipped, line);) {
    for (const auto& [start, replacement] : local)
      if (line.rfind(start, 0) == 0) line = replacement;
    text += line + "\n";
  }
  return text;
}

bool MosquittoBroker::TryStart() {
  const std::string f = folder_;
  Write(f + "/mosquitto.conf", Configuration());
  const std::string conf = f + "/mosquitto.conf";
  std::vector<char*> argv = {const_cast<char*>("/usr/sbin/mosquitto"), const_cast<char*>("-c"),
                             const_cast<char*>(conf.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (f + "/mosquitto.out").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // The broker must not hold the test's own connections open.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start /usr/sbin/mosquitto");
  bool ended = false;
  WaitFor(
      [&] {
        int status = 0;
        ended = waitpid(pid_, &status, WNOHANG) == pid_;
        return ended || (Accepts(port_) && Accepts(tlsPort_));
      },
      std::chrono::seconds(20));
  if (ended) pid_ = -1;
  return !ended;
}

void MosquittoBroker::Start() {
  if (port_ != 0) {
    if (!TryStart()) throw std::runtime_error("mosquitto did not start again; see " + folder_);
    return;
  }
  // Another program may take a free port before mosquitto does: try others.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    tlsPort_ = FreePort();
    if (port_ != tlsPort_ && TryStart()) return;
  }
  throw std::runtime_error("mosquitto did not start; see " + folder_ + "/mosquitto.log");
}

void MosquittoBroker::End(int signal) {
  if (pid_ <= 0) return;
  kill(pid_, signal);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

void MosquittoBroker::Stop() { End(SIGTERM); }

void MosquittoBroker::Kill() { End(SIGKILL); }

}  // namespace tarvo::test

#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvo::test {

// Debian's mosquitto on free loopback ports, with the package's example
// configuration and ACL file, its files in `folder`: users with passwords
// (mosquitto_passwd), persistence, and a TLS listener with a CA and
// certificate made by openssl.
class MosquittoBroker {
 public:
  struct Account {
    std::string user;
    std::string password;
  };
  MosquittoBroker(std::string folder, std::vector<Account> accounts);
  ~MosquittoBroker();
  MosquittoBroker(const MosquittoBroker&) = delete;
  MosquittoBroker& operator=(const MosquittoBroker&) = delete;

  // Starts it and returns once it accepts connections; after the first start
  // on the same ports and persistence file as before.
  void Start();
  // SIGTERM (it saves its state) or SIGKILL, and waits for its end.
  void Stop();
  void Kill();

  pid_t Pid() const { return pid_; }  // while it runs
  std::string Url() const;            // mqtt://127.0.0.1:PORT
  std::string TlsUrl() const;         // mqtts://127.0.0.1:PORT
  std::string CaFile() const { return folder_ + "/ca.crt"; }
  // A CA that did not sign the broker's certificate.
  std::string OtherCaFile() const { return folder_ + "/other-ca.crt"; }
  // A file that holds the account's password, for --password-file.
  std::string PasswordFile(const std::string& user) const;
  // `program` as the head office runs it here (tarvo-fleet's broker options
  // over TLS with the user head-office), then `args`.
  std::vector<std::string> HeadOfficeLine(const std::string& program,
                                          const std::vector<std::string>& args) const {
    std::vector<std::string> line = {program,
                                     "--broker",
                                     TlsUrl(),
                                     "--username",
                                     "head-office",
                                     "--password-file",
                                     PasswordFile("head-office"),
                                     "--ca-file",
                                     CaFile()};
    line.insert(line.end(), args.begin(), args.end());
    return line;
  }

 private:
  void End(int signal);
  std::string Configuration() const;
  bool TryStart();

  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
  int tlsPort_ = 0;
};

}  // namespace tarvo::test

#include <csignal>
#include <iostream>

#include "fleet/commands.h"

int main(int argc, char** argv) {
  // A broker that goes away under a TLS write must be an error, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  return tarvo_fleet::RunFleet(argc, argv, std::cout, std::cerr);
}

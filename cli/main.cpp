#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) { return tarvo_cli::RunCli(argc, argv, std::cout, std::cerr); }

#include "agent/agent_service.h"

int main(int argc, char** argv) { return agent::RunAgent(argc, argv); }

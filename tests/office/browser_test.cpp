// The web page in a real browser (Debian's headless Chromium, driven by
// browser_check.py) against the service, two tarvo-agent processes on
// simulated signs and Debian's mosquitto with the package's ACL.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/sign_simulator.h"
#include "station/panel_request.h"
#include "tests/agent/agent_process.h"
#include "tests/office/office_process.h"
#include "tests/support/hermetic_env.h"

namespace {

using namespace tarvo::test;
using namespace std::chrono_literals;

TEST(OfficeBrowser, PushConfirmedOnThePageAndTheSignLostStationShownViewerRefused) {
  if (!std::filesystem::exists("/usr/bin/chromedriver")) GTEST_SKIP() << "no chromium-driver";
  HermeticEnv env;
  MosquittoBroker broker(env.Root(), {{"head-office", "ho"}, {"north-1", "n1"}, {"north-2", "n2"}});
  broker.Start();
  sign_sim::SignSimulator sim(env.ComDir());
  std::map<std::string, std::unique_ptr<AgentProcess>> agents;
  std::map<std::string, sign_sim::SimSign*> signs;
  for (const auto& [id, port] : {std::pair("north-1", "COM3"), std::pair("north-2", "COM4")}) {
    signs[id] = &sim.AddSign(port);
    signs[id]->SetLineRate(19200);
    const std::string root = env.Root() + "/" + id;
    std::filesystem::create_directories(root);
    agents[id] = std::make_unique<AgentProcess>(root);
    std::ofstream(agents[id]->Config())
        << "station = \"" << id << "\"\nport = \"" << port << "\"\nstate_dir = \"" << root
        << "/state\"\nsocket = \"" << root << "/agent.sock\"\nsocket_group = \"root\"\n"
        << "[mqtt]\nurl = \"" << broker.Url() << "\"\npassword_file = \""
        << broker.PasswordFile(id) << "\"\nkeepalive_s = 5\n";
  }
  sim.Start();
  OfficeProcess office(broker, env.Root());
  office.AddUser("anna", "pricing", "anna-pass");
  office.AddUser("victor", "viewer", "victor-pass");
  office.Start();
  for (auto& [id, agent] : agents) agent->Start();

  const ProcessResult browser =
      ChildProcess({"/usr/bin/python3", TARVO_OFFICE_BROWSER_CHECK,
                    "http://127.0.0.1:" + std::to_string(office.Port()), "anna:anna-pass",
                    "victor:victor-pass", std::to_string(agents["north-2"]->Pid())})
          .Finish();
  ASSERT_EQ(browser.status, 0) << browser.out << browser.err;
  const sign_link::PanelRecord pushed = station::Merged({}, station::ParseSpecs({"row1=47.90:95"})[0]);
  EXPECT_EQ(signs["north-1"]->Panel(4).price, pushed.price);
  EXPECT_EQ(signs["north-1"]->Panel(4).grade, pushed.grade);
  // The viewer's push reached no sign.
  EXPECT_EQ(signs["north-1"]->Panel(12).price, pushed.price);
}

}  // namespace

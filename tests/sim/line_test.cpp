// The sign as a device on a line: the program closing and reopening its
// port, a pulled cable, a reader that does not keep up, several signs at once,
// and the links in the port folder.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/sim/sim_fixture.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;
using SignLine = SimulatedSign;

TEST_F(SignLine, KeepsAnsweringWhenTheProgramClosesAndReopensThePort) {
  EXPECT_EQ(Ask("R0E", 14), "T0----0000OK60");
  line.Close();
  ProgramLine reopened(sign.LinkPath());
  reopened.Send("LM3");
  EXPECT_EQ(reopened.ReadExactly(3), "LM3");
  reopened.Close();
  ProgramLine again(sign.LinkPath());
  again.Send("R1E");
  EXPECT_EQ(again.ReadExactly(14), "T1----0000OK61");
}

TEST_F(SignLine, AtALineRateAnAnswerTakesTheLineTimeOfItsBytes) {
  // Ten bits a byte at 19200 baud; only lower bounds hold on a busy machine.
  const auto lineTime = [](int bytes) {
    return std::chrono::microseconds(bytes * 10'000'000 / 19200);
  };
  sign.SetLineRate(19200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("R0E", 14), "T0----0000OK60");
  EXPECT_GE(std::chrono::steady_clock::now() - start, lineTime(3 + 14));

  // Two requests at once: the second answer follows the first on the line.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("R0ER1E", 28), "T0----0000OK60T1----0000OK61");
  EXPECT_GE(std::chrono::steady_clock::now() - start, lineTime(3 + 14 + 14));
}

TEST_F(SignLine, UnplugHangsUpTheLineAndReplugServesTheSameSignAgain) {
  sign.SetPanel(0, {"1234", '2', '1'});
  sign.Unplug();
  EXPECT_FALSE(sign.Plugged());
  EXPECT_TRUE(line.HungUp()) << "the program's port did not see the cable go";
  line.Close();
  EXPECT_TRUE(fs::is_symlink(sign.LinkPath()));
  // The system lets the terminal go a moment after its last user closed it.
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(sign.LinkPath()); }))
      << "the link should dangle while unplugged";

  sign.Replug();
  EXPECT_TRUE(sign.Plugged());
  ProgramLine replugged(sign.LinkPath());
  replugged.Send("R0E");
  EXPECT_EQ(replugged.ReadExactly(14), "T012342100OK67");
  EXPECT_EQ(fs::read_symlink(sign.LinkPath()), sign.TerminalPath());
}

TEST_F(SignLine, NeverBlocksOnAReaderThatDoesNotKeepUp) {
  // Far more answer bytes than a pseudo-terminal holds, none of them read yet.
  constexpr size_t kRequests = 3000;
  std::string requests;
  for (size_t i = 0; i < kRequests; ++i) requests += "R0E";
  line.Send(requests);
  ASSERT_TRUE(WaitFor([&] { return sign.ReceivedCount() == kRequests; }));

  sign_sim::SimSign& other = sim.AddSign("COM4");
  ProgramLine otherLine(other.LinkPath());
  otherLine.Send("LA");
  EXPECT_EQ(otherLine.ReadExactly(2), "LA") << "one slow reader held up another sign";

  const std::string all = line.ReadExactly(kRequests * 14, std::chrono::seconds(20));
  ASSERT_EQ(all.size(), kRequests * 14);
  for (size_t i = 0; i < kRequests; ++i)
    ASSERT_EQ(all.substr(i * 14, 14), "T0----0000OK60") << "reply " << i;
}

TEST_F(SignLine, SignsKeepTheirOwnPanels) {
  sign_sim::SimSign& other = sim.AddSign("COM4");
  ProgramLine otherLine(other.LinkPath());
  EXPECT_EQ(Ask("W0123421E25", 5), "WOK25");
  otherLine.Send("R0E");
  EXPECT_EQ(otherLine.ReadExactly(14), "T0----0000OK60");
  EXPECT_EQ(other.ReceivedCount(), 1u);
}

TEST(SignLinks, WhatArrivesBeforeStartIsAnsweredOnceStarted) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sign_sim::SimSign& sign = sim.AddSign("COM1");
  ProgramLine line(sign.LinkPath());
  line.Send("R0E");
  sim.Start();
  EXPECT_EQ(line.ReadExactly(14), "T0----0000OK60");
}

TEST(SignLinks, StopRemovesTheLinksAndLeavesOthersAlone) {
  HermeticEnv env;
  const std::string stale = env.ComDir() + "/COM1";
  fs::create_symlink("/nonexistent/device", stale);
  std::ofstream(env.ComDir() + "/COM2") << "not a device";
  {
    sign_sim::SignSimulator sim(env.ComDir());
    const sign_sim::SimSign& replaced = sim.AddSign("COM1");
    EXPECT_EQ(fs::read_symlink(stale), replaced.TerminalPath())
        << "the stale link was not replaced";
    sim.AddSign("COM9");
    EXPECT_THROW(sim.AddSign("COM2"), std::runtime_error) << "a file that is no link was replaced";
    EXPECT_THROW(sim.AddSign("COM1"), std::runtime_error) << "the same port twice";
    EXPECT_THROW(sim.AddSign("../COM5"), std::invalid_argument);
    sim.Start();
    sim.Stop();
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(stale)));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(env.ComDir() + "/COM9")));
    EXPECT_THROW(sim.AddSign("COM5"), std::logic_error) << "stop is final";
  }
  EXPECT_TRUE(fs::is_regular_file(env.ComDir() + "/COM2"));
  EXPECT_EQ(std::distance(fs::directory_iterator(env.ComDir()), fs::directory_iterator()), 1)
      << "a temporary link was left behind";
}

TEST(SignPanels, OnlyTheTenPanelsExistAndPricesAreFourCharacters) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sign_sim::SimSign& sign = sim.AddSign("COM1");
  EXPECT_THROW(sign.Panel(5), std::out_of_range);
  EXPECT_THROW(sign.Panel(13), std::out_of_range);
  EXPECT_THROW(sign.SetPanel(7, {}), std::out_of_range);
  EXPECT_THROW(sign.SetPanel(0, {"123", '1', '0'}), std::invalid_argument);
  EXPECT_THROW(sign.SetBrightness(10), std::out_of_range);
}

}  // namespace
}  // namespace tarvo::test

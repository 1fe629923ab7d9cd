#pragma once
// A simulated TARVO sign, or several: each plays the device on a
// pseudo-terminal whose terminal end is published as DIR/COMn, the way
// TARVO_COM_DIR names ports. One thread serves all signs; everything here is
// safe to call from any thread.
//
//   SignSimulator sim(dir);              // links appear as signs are added
//   SimSign& sign = sim.AddSign("COM3"); // before or after Start
//   sim.Start();
//   sign.UpdateFaults([](SignFaults& f) { f.answerDelayMs = 5; });
//   ... the program opens dir/COM3 ...
//   WaitFor([&] { return sign.ReceivedCount() >= 1; });
//   sim.Stop();                          // also done by the destructor
//
// Answers go out as soon as a whole message has arrived unless a fault says
// otherwise. Note for tests of the write: the program sends each frame twice
// and discards its input right after the second send, so an answer to the
// first copy can be lost; give such tests a small answerDelayMs.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/sign_link.h"
#include "sim/brightness.h"
#include "sim/sign_faults.h"
#include "sim/transcript.h"

namespace sign_sim {

// One simulated sign: ten panels (addresses 0..4 and 8..12), a brightness and
// its faults. Owned by the simulator; references stay valid until it is destroyed.
class SimSign {
 public:
  ~SimSign();
  SimSign(const SimSign&) = delete;
  SimSign& operator=(const SimSign&) = delete;

  const std::string& PortName() const;
  // The terminal end, e.g. /dev/pts/7 (a new one after Replug).
  std::string TerminalPath() const;
  // DIR/COMn, the link the program opens.
  const std::string& LinkPath() const;

  void SetFaults(const SignFaults& faults);
  // Edits the faults in place, atomically: UpdateFaults([](SignFaults& f) { ... }).
  void UpdateFaults(const std::function<void(SignFaults&)>& change);
  // The faults now in force; the countdowns show what is left of them.
  SignFaults Faults() const;

  // Bits per second of the line: every byte then takes ten bits in each
  // direction, so an answer starts only once its message has crossed the
  // line and goes out no faster than the line carries it. 0 (the start
  // value): no line time.
  void SetLineRate(int bitsPerSecond);
  int LineRate() const;

  // Panels start as "----" with grade and inscription "0". Addresses other
  // than 0..4 and 8..12 throw std::out_of_range.
  sign_link::PanelRecord Panel(uint8_t address) const;
  void SetPanel(uint8_t address, const sign_link::PanelRecord& record);
  // kBrightnessAutomatic (the start value) or 0..9.
  int Brightness() const;
  void SetBrightness(int brightness);

  // Whole messages received, in order, answered or not (bad check codes,
  // unknown panels, refused writes too). Bytes that fit no message are
  // dropped one at a time and kept here as one entry per run.
  std::vector<std::string> Received() const;
  size_t ReceivedCount() const;
  // Answers written to the line in full, in order, as sent (with any faults).
  std::vector<std::string> Answered() const;
  size_t AnsweredCount() const;
  // Forgets both lists.
  void ClearReceived();

  // Pulls the cable: the device end closes, the program's open port sees a
  // hang-up, the pseudo-terminal goes away and the link dangles. Pending
  // answers and half-received messages are lost; panels and faults stay.
  void Unplug();
  // Plugs in again on a fresh pseudo-terminal; the link points to it.
  void Replug();
  bool Plugged() const;

 private:
  friend class SignSimulator;
  struct State;
  explicit SimSign(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class SignSimulator {
 public:
  // dir: the folder for the links (created when missing).
  explicit SignSimulator(std::string dir);
  ~SignSimulator();
  SignSimulator(const SignSimulator&) = delete;
  SignSimulator& operator=(const SignSimulator&) = delete;

  // Makes a sign and publishes it as dir/portName at once; a stale symbolic
  // link of that name is replaced. Throws std::runtime_error when the name is
  // taken by anything else or already used by this simulator.
  SimSign& AddSign(const std::string& portName);

  // Starts serving. Before that, what the program sends waits in the line.
  void Start();
  // Stops serving, closes the signs and removes their links. Final.
  void Stop();

  // Receives every transcript line, on the simulator's thread. Set before Start.
  void SetTranscript(std::function<void(const TranscriptLine&)> sink);

 private:
  struct Loop;
  std::unique_ptr<Loop> loop_;
};

}  // namespace sign_sim

// Any byte stream into the simulated sign, in chunks, with or without faults:
// nothing is lost, doubled or reordered, no more than the start of one
// message is ever held, only well-formed messages are answered, and how the
// bytes are cut into chunks does not change the answers. A well-behaved sign
// answers exactly as the sign link says.
//
// Input: a fault byte (0: well-behaved), a chunk byte (low four bits: chunk
// size - 1; bit 4: the held start goes stale after every chunk), the stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/sign_link.h"
#include "sim/brightness.h"
#include "sim/sign_device.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using sign_sim::Exchange;
using sign_sim::SignDevice;
using tarvo::fuzz::Check;
using tarvo::fuzz::Fail;
using tarvo::fuzz::OwnCheckCode;

// The longest start of a message that can wait for its rest: a write frame
// short of its last byte.
constexpr size_t kLongestHeld = 10;

sign_sim::SignFaults FaultsOf(uint8_t bits) {
  sign_sim::SignFaults faults;
  faults.silent = (bits & 0x01) != 0;
  if (bits & 0x02) faults.extraAfterAnswer = "X";
  if (bits & 0x04) faults.nulsBetweenBytes = 1;
  if (bits & 0x08) faults.wrongFirstCheckDigit = 2;
  faults.lowercaseCheckCode = (bits & 0x10) != 0;
  faults.replyWithoutT = (bits & 0x20) != 0;
  if (bits & 0x40) faults.replyLength = 11;
  if (bits & 0x80) {
    faults.refusedWrites = 1;
    faults.wrongBrightnessEcho = true;
  }
  return faults;
}

bool IsPanelAddressChar(char c) {
  const int address = static_cast<unsigned char>(c) - 0x30;
  return (address >= 0 && address <= 4) || (address >= 8 && address <= 12);
}

bool IsReadRequest(std::string_view m) {
  return m.size() == 3 && m[0] == 'R' && IsPanelAddressChar(m[1]) && m[2] == 'E';
}
bool IsWriteFrame(std::string_view m) {
  return m.size() == 11 && m[0] == 'W' && IsPanelAddressChar(m[1]) && m[8] == 'E' &&
         m.substr(9) == OwnCheckCode(m.substr(0, 9));
}
bool IsBrightnessCommand(std::string_view m) {
  return m == "LA" || (m.size() == 3 && m[0] == 'L' && m[1] == 'M' && m[2] >= '0' && m[2] <= '9');
}
bool IsWellFormed(std::string_view m) {
  return IsReadRequest(m) || IsWriteFrame(m) || IsBrightnessCommand(m);
}

// What a well-behaved sign holds, kept from the messages it answered.
struct Model {
  sign_link::PanelRecord panels[13];
  int brightness = sign_sim::kBrightnessAutomatic;
};

void CheckWellBehavedAnswer(const Exchange& e, Model& model) {
  const std::string& m = e.received;
  Check(e.answer.empty() != IsWellFormed(m),
        "a well-behaved sign answers every well-formed message", m, e.answer);
  if (IsReadRequest(m)) {
    const sign_link::PanelRecord& r = model.panels[m[1] - 0x30];
    const std::string expected = std::string{'T', m[1]} + r.price + r.grade + r.inscription;
    const std::string& a = e.answer;
    const bool ok = a.size() == 14 && a.starts_with(expected) && a.substr(10, 2) == "OK" &&
                    a.substr(12) == OwnCheckCode(a.substr(0, 12));
    Check(ok, "a read request is answered with the panel's reply", expected + "..OK" + "<code>", a);
  } else if (IsWriteFrame(m)) {
    Check(e.answer.starts_with("WOK"), "a write frame is acknowledged", "WOK", e.answer);
    model.panels[m[1] - 0x30] = sign_link::PanelRecord{std::string(m.substr(2, 4)), m[6], m[7]};
  } else if (IsBrightnessCommand(m)) {
    Check(e.answer == m, "a brightness command is echoed", m, e.answer);
    model.brightness = m == "LA" ? sign_sim::kBrightnessAutomatic : m[2] - '0';
  }
}

struct Run {
  std::string consumed;            // every exchange's bytes, in order
  std::vector<Exchange> answered;  // the exchanges with an answer
};

void Take(const std::vector<Exchange>& exchanges, Run& run, Model* model,
          const SignDevice& device) {
  for (const Exchange& e : exchanges) {
    Check(!e.received.empty(), "an exchange holds the bytes it took");
    run.consumed += e.received;
    if (!e.answer.empty()) {
      Check(IsWellFormed(e.received), "only well-formed messages are answered", "", e.received);
      run.answered.push_back(e);
    }
    if (model) CheckWellBehavedAnswer(e, *model);
  }
  if (model) {
    Check(device.Brightness() == model->brightness, "the brightness is what was last commanded",
          std::to_string(model->brightness), std::to_string(device.Brightness()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t faultBits = data[0];
  const size_t chunk = (data[1] & 0x0F) + 1u;
  const bool goesStale = (data[1] & 0x10) != 0;
  const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  SignDevice device;
  device.Faults() = FaultsOf(faultBits);
  Model model;
  for (uint8_t a : {0, 1, 2, 3, 4, 8, 9, 10, 11, 12}) model.panels[a] = device.Panel(a);
  Model* wellBehaved = faultBits == 0 ? &model : nullptr;

  Run run;
  size_t fed = 0;
  size_t checked = 0;  // bytes of run.consumed compared with the stream
  while (fed < stream.size()) {
    const std::string_view piece = stream.substr(fed, chunk);
    fed += piece.size();
    Take(device.Receive(piece), run, wellBehaved, device);
    if (goesStale) Take(device.DropStaleByte(), run, wellBehaved, device);
    // Only what this chunk added needs comparing; the rest was compared before.
    const std::string_view added = std::string_view(run.consumed).substr(checked);
    Check(run.consumed.size() <= fed && added == stream.substr(checked, added.size()),
          "the exchanges hold the bytes received, in order", stream.substr(checked, added.size()),
          added);
    checked = run.consumed.size();
    const size_t held = fed - run.consumed.size();
    // Failure texts are made only on failure: this runs for every chunk.
    if (held > kLongestHeld) {
      Fail("no more than one message's start is held", std::to_string(kLongestHeld),
           std::to_string(held));
    }
    if (device.HoldsPartial() != (held > 0)) {
      Fail("a held start is reported as held", std::to_string(held) + " bytes held",
           device.HoldsPartial() ? "holds" : "holds nothing");
    }
  }
  if (goesStale) return 0;

  // The same bytes in one piece give the same answers.
  SignDevice whole;
  whole.Faults() = FaultsOf(faultBits);
  Run once;
  Take(whole.Receive(stream), once, nullptr, whole);
  Check(once.consumed == run.consumed, "cutting the bytes differently takes the same bytes",
        run.consumed, once.consumed);
  Check(once.answered.size() == run.answered.size(),
        "cutting the bytes differently answers as often", std::to_string(run.answered.size()),
        std::to_string(once.answered.size()));
  for (size_t i = 0; i < once.answered.size(); ++i) {
    Check(once.answered[i].answer == run.answered[i].answer,
          "cutting the bytes differently gives the same answers", run.answered[i].answer,
          once.answered[i].answer);
  }
  return 0;
}

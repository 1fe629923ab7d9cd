#include "sim/sim_options.h"

#include <charconv>
#include <stdexcept>

namespace sign_sim {

namespace {

int ParseCount(const std::string& option, const std::string& text, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > max) {
    throw std::invalid_argument(option + " wants a number from 0 to " + std::to_string(max) +
                                ", not \"" + text + "\"");
  }
  return value;
}

int ParseBrightness(const std::string& text) {
  if (text == "auto") return kBrightnessAutomatic;
  return ParseCount("--brightness", text, 9);
}

// ADDRESS=PRICE[,GRADE[,INSCRIPTION]], e.g. 0=12.34,2,1 or 8=----
std::pair<uint8_t, sign_link::PanelRecord> ParsePanel(const std::string& text) {
  const auto bad = [&] {
    return std::invalid_argument(
        "--panel wants ADDRESS=PRICE[,GRADE[,INSCRIPTION]] (e.g. 0=12.34,2,1), not \"" + text +
        "\"");
  };
  const size_t equals = text.find('=');
  if (equals == std::string::npos) throw bad();
  const int address = ParseCount("--panel address", text.substr(0, equals), 12);
  if (address > 4 && address < 8)
    throw std::invalid_argument("--panel: no panel at address " + std::to_string(address));

  std::vector<std::string> fields;
  size_t from = equals + 1;
  for (;;) {
    const size_t comma = text.find(',', from);
    fields.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (fields.size() > 3) throw bad();
  sign_link::PanelRecord record;
  std::string price = fields[0];
  if (price.size() == 5 && price[2] == '.') price.erase(2, 1);
  if (price.size() != 4) throw bad();
  record.price = price;
  if (fields.size() > 1) {
    if (fields[1].size() != 1) throw bad();
    record.grade = fields[1][0];
  }
  if (fields.size() > 2) {
    if (fields[2].size() != 1) throw bad();
    record.inscription = fields[2][0];
  }
  return {static_cast<uint8_t>(address), record};
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  constexpr int kMaxMs = 600'000;
  constexpr int kMaxCount = 1'000'000;
  constexpr int kMaxLineRate = 4'000'000;
  SimOptions options;
  SignOptions defaults;
  const auto currentSign = [&]() -> SignOptions& {
    return options.signs.empty() ? defaults : options.signs.back();
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(option + " wants a value");
      return args[++i];
    };
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--dir") {
      options.dir = value();
    } else if (option == "--port") {
      SignOptions sign = defaults;
      sign.port = value();
      options.signs.push_back(std::move(sign));
    } else if (option == "--panel") {
      const auto [address, record] = ParsePanel(value());
      currentSign().panels[address] = record;
    } else if (option == "--brightness") {
      currentSign().brightness = ParseBrightness(value());
    } else if (option == "--line-rate") {
      currentSign().lineRate = ParseCount(option, value(), kMaxLineRate);
    } else if (option == "--silent") {
      currentSign().faults.silent = true;
    } else if (option == "--delay") {
      currentSign().faults.answerDelayMs = ParseCount(option, value(), kMaxMs);
    } else if (option == "--dribble") {
      currentSign().faults.dribbleGapMs = ParseCount(option, value(), kMaxMs);
    } else if (option == "--nuls") {
      currentSign().faults.nulsBetweenBytes = ParseCount(option, value(), 1000);
    } else if (option == "--extra") {
      currentSign().faults.extraAfterAnswer = value();
    } else if (option == "--wrong-check-first") {
      currentSign().faults.wrongFirstCheckDigit = ParseCount(option, value(), kMaxCount);
    } else if (option == "--wrong-check-second") {
      currentSign().faults.wrongSecondCheckDigit = ParseCount(option, value(), kMaxCount);
    } else if (option == "--lowercase-check") {
      currentSign().faults.lowercaseCheckCode = true;
    } else if (option == "--no-t") {
      currentSign().faults.replyWithoutT = true;
    } else if (option == "--no-ok") {
      currentSign().faults.replyWithoutOk = true;
    } else if (option == "--reply-length") {
      currentSign().faults.replyLength = ParseCount(option, value(), 14);
    } else if (option == "--refuse-writes") {
      currentSign().faults.refusedWrites = ParseCount(option, value(), kMaxCount);
    } else if (option == "--wrong-echo") {
      currentSign().faults.wrongBrightnessEcho = true;
    } else {
      throw std::invalid_argument("unknown option \"" + option + "\"");
    }
  }
  if (options.help) return options;
  if (options.dir.empty()) throw std::invalid_argument("--dir is required");
  if (options.signs.empty()) throw std::invalid_argument("at least one --port is required");
  return options;
}

std::string SimUsage() {
  return R"(usage: tarvo-sign-sim --dir DIR --port COMn [SIGN OPTIONS] [--port COMm [SIGN OPTIONS]]...

Plays a TARVO Z408 sign on a pseudo-terminal published as DIR/COMn (set
TARVO_COM_DIR=DIR for the program). Prints one "ready:" line, then one line per
message in each direction. Stops on SIGINT or SIGTERM and removes its links.
Sign options before the first --port apply to every sign.

Sign options:
  --panel A=PRICE[,GRADE[,INSCRIPTION]]  panel A (0..4, 8..12), e.g. 0=12.34,2,1 or 8=----
  --brightness auto|0..9                 brightness at start (auto)
  --line-rate BAUD                       every byte takes ten bits at BAUD each way, as on a
                                         real line (e.g. 19200); 0: no line time (the default)
Faults:
  --silent                 answer nothing
  --delay MS               wait MS before each answer
  --dribble MS             send answers one byte at a time, MS apart
  --nuls N                 N bytes 0x00 between answer bytes
  --extra BYTES            send BYTES after each answer
  --wrong-check-first N    the next N panel replies get a wrong first check digit
  --wrong-check-second N   the next N panel replies get a wrong second check digit
  --lowercase-check        check digits A..F in lowercase
  --no-t                   panel replies begin "X" instead of "T"
  --no-ok                  panel replies carry "NO" instead of "OK"
  --reply-length N         cut panel replies to N bytes (11: a short reply)
  --refuse-writes N        leave the next N good write frames unstored and unanswered
  --wrong-echo             echo brightness commands wrongly
)";
}

}  // namespace sign_sim

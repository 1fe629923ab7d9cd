#include "station/command_line.h"

namespace station {

bool ParseOrAnswer(CLI::App& app, int argc, const char* const* argv, std::ostream& out) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return false;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return false;
  } catch (const CLI::CallForVersion&) {
    out << app.version() << '\n';
    return false;
  }
  return true;
}

}  // namespace station

#include "monitor/desktop/launcher.h"

namespace tarvi {

namespace {

// A program is started by its file name, never by a command line that
// CreateProcess would split at the first space of "C:\Program Files\..."
// (and so start C:\Program.exe); the command line repeats the path in
// quotes, so that the program's argv[0] is its whole path.
std::optional<std::uint32_t> startProgram(Processes& processes, const Text& path, const Text& arguments = {}) {
  return processes.start(u"\"" + path + u"\"" + (arguments.empty() ? Text() : u" " + arguments), path);
}

}  // namespace

Text Launcher::settingsProgram() { return processes_.exeFolder() + u"\\tarvicfg.exe"; }

bool Launcher::startAndWait(const Text& program, const Text& arguments) {
  auto pid = startProgram(processes_, program, arguments);
  if (!pid) return false;
  waitForProcess(*pid);
  return true;
}

void Launcher::waitForProcess(std::uint32_t pid) {
  auto handle = processes_.open(pid);
  std::uint32_t code = 0;
  for (;;) {
    if (handle) {
      if (auto c = processes_.exitCode(*handle)) code = *c;
    }
    pump_.doEvents();
    if (code != kStillActive || pump_.quitting()) break;
    pump_.idle();
  }
  if (handle) processes_.close(*handle);
}

void Launcher::startMailer(const Text& path) {
  if (path.empty()) return;
  if (path[0] != u'"') {
    if (processes_.isOrdinaryFile(path)) startProgram(processes_, path);
    return;
  }
  const std::size_t close = path.find(u'"', 1);
  if (close == Text::npos) return;
  // The whole text is started, so that what follows the quotes reaches the
  // mailer as its arguments.
  if (processes_.isOrdinaryFile(path.substr(1, close - 1))) processes_.start(path);
}

}  // namespace tarvi

// Starting the mail programs and the settings program.
#pragma once

#include "monitor/services/services.h"

namespace tarvi {

class Launcher {
 public:
  Launcher(Processes& processes, Pump& pump) : processes_(processes), pump_(pump) {}

  // The settings program beside the monitor.
  Text settingsProgram();
  // Starts a program and waits for it to end, pumping messages. False when
  // it could not be started.
  // `arguments` follow the quoted path on the command line.
  bool startAndWait(const Text& program, const Text& arguments = {});
  void waitForProcess(std::uint32_t pid);
  // A mail program's stored command: a bare path starts only when that file
  // exists; a quoted path passes what follows the quotes as arguments.
  void startMailer(const Text& command);

 private:
  Processes& processes_;
  Pump& pump_;
};

}  // namespace tarvi

#pragma once
// The console line of the command-line run as the flows see it. The command-line object installs
// its printer at start-up; the flows print through it only while the command-line mode runs.
#include <string>

namespace uafw {

using ConsolePrinter = void (*)(const std::string& text);

// Installs the printer (nullptr removes it); returns the previous one.
ConsolePrinter SetConsolePrinter(ConsolePrinter printer);

// Prints the text through the installed printer when the command-line mode runs.
void PrintConsole(const std::string& text);

}  // namespace uafw

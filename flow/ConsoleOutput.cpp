#include "flow/ConsoleOutput.h"

#include <atomic>

#include "platform/AppState.h"

namespace uafw {
namespace {

std::atomic<ConsolePrinter> g_printer{nullptr};

}  // namespace

ConsolePrinter SetConsolePrinter(ConsolePrinter printer) {
    return g_printer.exchange(printer);
}

void PrintConsole(const std::string& text) {
    const ConsolePrinter printer = g_printer.load();
    if (g_bCmdLineMode != 0 && printer != nullptr)
        printer(text);
}

}  // namespace uafw

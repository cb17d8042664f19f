// uafw-umockdev-run DIR[:DIR2...] COMMAND [ARGS...]
//
// Puts the virtual chips of the state directories (the format UAFW_SIM reads) behind emulated
// usbdevfs devices and runs COMMAND under the umockdev preload, so that the command's libusb
// reaches the chips as real hardware. UAFW_SIM is removed from the command's environment, so
// that the program under test takes its libusb path. The exit status is the command's; 2 when
// the chips cannot be set up, 127 when the command cannot be started.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/ChipStateDir.h"
#include "sim/umockdev/UmockdevHost.h"

#ifndef UAFW_UMOCKDEV_PRELOAD
#define UAFW_UMOCKDEV_PRELOAD "libumockdev-preload.so.0"
#endif

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == separator) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

// "1.3" -> {1, 3}; empty on anything that is not a port path.
std::vector<std::uint8_t> Ports(const std::string& path) {
    std::vector<std::uint8_t> ports;
    for (const std::string& part : Split(path, '.')) {
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos) {
            return {};
        }
        const int value = std::stoi(part);
        if (value < 1 || value > 255) {
            return {};
        }
        ports.push_back(static_cast<std::uint8_t>(value));
    }
    return ports;
}

int Run(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR[:DIR2...] COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    std::string error;
    auto host = uafw::sim::UmockdevHost::CreateForChildren(error);
    if (!host) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::vector<std::shared_ptr<uafw::sim::VirtualChip>> chips;
    std::vector<std::string> wanted;
    for (const std::string& dir : Split(argv[1], ':')) {
        if (dir.empty()) {
            continue;
        }
        auto chip = uafw::sim::LoadChipStateDir(dir, error);
        if (!chip) {
            std::fprintf(stderr, "%s: %s\n", dir.c_str(), error.c_str());
            return 2;
        }
        wanted.push_back(chip->Config().port);
        chips.emplace_back(std::move(chip));
    }
    // Chips without a port take the free root-hub ports 1, 2, ... in order.
    std::set<std::string> taken(wanted.begin(), wanted.end());
    int next = 1;
    for (std::size_t i = 0; i < chips.size(); ++i) {
        std::string port = wanted[i];
        if (port.empty()) {
            while (taken.count(std::to_string(next)) != 0) {
                ++next;
            }
            port = std::to_string(next++);
            taken.insert(port);
        }
        uafw::sim::UmockdevPlug where;
        where.ports = Ports(port);
        if (where.ports.empty()) {
            std::fprintf(stderr, "bad port path \"%s\"\n", port.c_str());
            return 2;
        }
        if (host->Plug(chips[i], where, error) == 0) {
            std::fprintf(stderr, "port %s: %s\n", port.c_str(), error.c_str());
            return 2;
        }
    }

    std::string preload = UAFW_UMOCKDEV_PRELOAD;
#ifdef UAFW_PRELOAD_FIRST
    preload = std::string(UAFW_PRELOAD_FIRST) + ":" + preload;
#endif
    if (const char* old = getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
        preload += ":" + std::string(old);
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 127;
    }
    if (child == 0) {
        setenv("LD_PRELOAD", preload.c_str(), 1);
        unsetenv("UAFW_SIM");
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    // The emulated devices are served from this process's threads while the command runs.
    signal(SIGINT, SIG_IGN);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int main(int argc, char** argv) {
    return Run(argc, argv);
}

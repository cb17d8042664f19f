#include "platform/MessageBox.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>

namespace uafw {

namespace {

const char* ResultName(MsgBoxResult r) {
    switch (r) {
        case MsgBoxResult::Ok:
            return "OK";
        case MsgBoxResult::Cancel:
            return "Cancel";
        case MsgBoxResult::Yes:
            return "Yes";
        case MsgBoxResult::No:
            return "No";
    }
    return "";
}

bool IsQuestion(MsgBoxButtons b) {
    return b != MsgBoxButtons::Ok;
}

ConsoleMessageBox g_consoleBox;
std::atomic<IMessageBox*> g_port{nullptr};

}  // namespace

MsgBoxResult ConsoleMessageBox::Show(const std::string& text, const std::string& caption,
                                     MsgBoxButtons buttons, MsgBoxResult defaultResult) {
    if (!caption.empty())
        std::printf("%s: ", caption.c_str());
    std::printf("%s\n", text.c_str());
    if (!IsQuestion(buttons)) {
        std::fflush(stdout);
        return MsgBoxResult::Ok;
    }
    const bool yesNo = buttons == MsgBoxButtons::YesNo || buttons == MsgBoxButtons::YesNoCancel;
    const bool cancel = buttons != MsgBoxButtons::YesNo;
    if (!isatty(STDIN_FILENO)) {
        std::printf("-> %s\n", ResultName(defaultResult));
        std::fflush(stdout);
        return defaultResult;
    }
    for (;;) {
        std::printf("%s%s [default %s]? ", yesNo ? "(y)es/(n)o" : "(o)k", cancel ? "/(c)ancel" : "",
                    ResultName(defaultResult));
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer))
            return defaultResult;
        if (answer.empty())
            return defaultResult;
        const char c = static_cast<char>(answer[0] | 0x20);
        if (yesNo && c == 'y')
            return MsgBoxResult::Yes;
        if (yesNo && c == 'n')
            return MsgBoxResult::No;
        if (!yesNo && c == 'o')
            return MsgBoxResult::Ok;
        if (cancel && c == 'c')
            return MsgBoxResult::Cancel;
    }
}

IMessageBox& MessageBoxPort() {
    IMessageBox* p = g_port.load();
    return p != nullptr ? *p : g_consoleBox;
}

void SetMessageBoxPort(IMessageBox* port) {
    g_port.store(port);
}

}  // namespace uafw

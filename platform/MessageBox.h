#pragma once
// The message-box port. The window shows boxes as dialogs; the command line prints the text and,
// for a question, asks on the terminal when standard input is one and otherwise takes the default
// button. Tests install a fake that records the boxes and gives chosen answers.
#include <string>

namespace uafw {

enum class MsgBoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgBoxResult { Ok, Cancel, Yes, No };

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows the text and returns the button chosen. `defaultResult` is the default button.
    virtual MsgBoxResult Show(const std::string& text, const std::string& caption,
                              MsgBoxButtons buttons, MsgBoxResult defaultResult) = 0;
};

// Console boxes: the text goes to standard output; a question is asked on the terminal when
// standard input is one, otherwise the default button is taken and the choice is printed.
class ConsoleMessageBox final : public IMessageBox {
public:
    MsgBoxResult Show(const std::string& text, const std::string& caption, MsgBoxButtons buttons,
                      MsgBoxResult defaultResult) override;
};

// The message-box port in use (console boxes unless another one was installed).
IMessageBox& MessageBoxPort();
// Installs `port` (not owned; nullptr restores the console boxes).
void SetMessageBoxPort(IMessageBox* port);

// Shorthand for a box with an OK button.
inline void ShowMessage(const std::string& text, const std::string& caption = "") {
    MessageBoxPort().Show(text, caption, MsgBoxButtons::Ok, MsgBoxResult::Ok);
}

}  // namespace uafw

#include "base/MessageBox.h"

#include <mutex>

namespace {
std::mutex responderLock;
MessageBoxResponder responder;
}  // namespace

void SetMessageBoxResponder(MessageBoxResponder newResponder) {
    std::lock_guard<std::mutex> guard(responderLock);
    responder = std::move(newResponder);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    MessageBoxResponder current;
    {
        std::lock_guard<std::mutex> guard(responderLock);
        current = responder;
    }
    if (current) return current({owner, text, caption, style});
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

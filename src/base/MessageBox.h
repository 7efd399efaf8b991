// Every message box of the program goes through here, so that tests can answer it.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

struct MessageBoxRequest {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style);

// A responder answers in place of the real box; an empty function restores the real box.
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxResponder(MessageBoxResponder responder);

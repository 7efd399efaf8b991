// The program's hidden main window: the owner of the tray icon and its menu. The tray's
// messages (the icon's callback, the menu's commands, "TaskbarCreated", the session tray's
// timer) reach a handler before the window's own procedure sees them.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

class MainWindow {
public:
    // Answers true when it took the message.
    using TrayHandler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)>;

    MainWindow(HINSTANCE module, const std::string& caption, TrayHandler trayHandler);
    // Destroys the window unless it is already gone.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Null when the window could not be created.
    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    TrayHandler trayHandler_;
    HWND window_ = nullptr;
};

#include "ui/MainWindow.h"

#include <commctrl.h>
#include <utility>

namespace {
constexpr char kWindowClass[] = "CorvaneMainWindow";
constexpr UINT_PTR kSubclassId = 1;
}  // namespace

MainWindow::MainWindow(HINSTANCE module, const std::string& caption, TrayHandler trayHandler)
    : trayHandler_(std::move(trayHandler)) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kWindowClass;
    (void)RegisterClassA(&windowClass);  // already registered by an earlier window: fine
    window_ = CreateWindowExA(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              320, 200, nullptr, nullptr, module, nullptr);
    if (window_) SetWindowSubclass(window_, &MainWindow::TrayFirst, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

MainWindow::~MainWindow() {
    if (window_ && IsWindow(window_)) {
        RemoveWindowSubclass(window_, &MainWindow::TrayFirst, kSubclassId);
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK MainWindow::TrayFirst(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
    auto* mainWindow = reinterpret_cast<MainWindow*>(self);
    if (mainWindow->trayHandler_ && mainWindow->trayHandler_(message, wParam, lParam)) return 0;
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &MainWindow::TrayFirst, kSubclassId);
        mainWindow->window_ = nullptr;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The close box hides the window; only WM_CLOSE itself (the end of the service) destroys it.
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

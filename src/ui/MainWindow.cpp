#include "ui/MainWindow.h"

#include <utility>

namespace {
constexpr char kWindowClass[] = "CorvaneMainWindow";
}  // namespace

MainWindow::MainWindow(HINSTANCE module, const std::string& caption, TrayHandler trayHandler)
    : trayHandler_(std::move(trayHandler)) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kWindowClass;
    (void)RegisterClassA(&windowClass);  // already registered by an earlier window: fine
    window_ = CreateWindowExA(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              320, 200, nullptr, nullptr, module, this);
}

MainWindow::~MainWindow() {
    if (window_) DestroyWindow(window_);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self) {
        if (self->trayHandler_ && self->trayHandler_(message, wParam, lParam)) return 0;
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            self->window_ = nullptr;
        }
    }
    // The close box hides the window; only WM_CLOSE itself (the end of the service) destroys it.
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

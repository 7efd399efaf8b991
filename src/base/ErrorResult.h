// Turning failed system calls into results, and returning a failure at once.
#pragma once
#include <windows.h>

// The result of a system call that just failed: its last error as an HRESULT, or E_FAIL when
// it set none (a failure must never read as success).
[[nodiscard]] inline HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// A Win32 error code (a registry call's LONG result, say) as an HRESULT: ERROR_SUCCESS is S_OK
// and every other code a failure. A plain cast would read small codes such as
// ERROR_ACCESS_DENIED as success.
[[nodiscard]] inline HRESULT Win32Result(LONG error) {
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

// Returns the HRESULT of expression from the calling function when it is a failure. Owners
// close what is open on the way out.
#define RETURN_IF_FAILED(expression)            \
    do {                                        \
        const HRESULT failure_ = (expression);  \
        if (FAILED(failure_)) return failure_;  \
    } while (0)

// Returns the HRESULT of a Win32 error code (a registry call's LONG result) from the calling
// function when it is not ERROR_SUCCESS.
#define RETURN_IF_WIN32_ERROR(expression)          \
    do {                                           \
        const LONG win32Error_ = (expression);     \
        if (win32Error_ != ERROR_SUCCESS) return Win32Result(win32Error_); \
    } while (0)

// Registry calls give a LONG, kernel calls a BOOL with the last error and COM an HRESULT: code
// that hands a Win32 failure on as an HRESULT goes through LastErrorResult, Win32Result or the
// macros above, never a cast.

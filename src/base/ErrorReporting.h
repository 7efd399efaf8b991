// Error text for COM callers (error-info objects) and for people (the system's wording).
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>

// Fills the thread's error-info object: description (text, or a string resource id below
// 0x10000), the class's ProgID as source, the interface id as GUID. Returns result when it is
// not 0, else DISP_E_EXCEPTION for a text and 0x80040000 + id for a resource id.
HRESULT ReportComError(REFCLSID classId, const char* description, DWORD helpContext, const wchar_t* helpFile,
                       REFIID interfaceId, HRESULT result, HINSTANCE module);
HRESULT ReportComError(REFCLSID classId, UINT descriptionId, DWORD helpContext, const wchar_t* helpFile,
                       REFIID interfaceId, HRESULT result, HINSTANCE module);

// S_OK when interfaceId is ownInterface, else S_FALSE.
HRESULT InterfaceSupportsErrorInfo(REFIID ownInterface, REFIID interfaceId);

// The prefix, then "\n" and the system's text for the calling thread's last error (taken
// first); the prefix alone when the system has no text.
std::string GetSystemErrorText(const std::string& prefix);

// Shows GetSystemErrorText(message) in a box on the interactive desktop.
void ShowSystemError(const std::string& message);

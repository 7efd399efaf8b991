// Error info for COM callers, the system's error wording and the results of failed calls.
#include "base/EventLog.h"
#include "base/MessageBox.h"
#include "base/ErrorReporting.h"
#include "base/ErrorResult.h"
#include "messages.h"
#include "support/EventRecorder.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

struct ErrorInfoRead {
    std::wstring description;
    std::wstring source;
    GUID guid{};
    bool present = false;
};

ErrorInfoRead TakeErrorInfo() {
    ErrorInfoRead read;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return read;
    read.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) read.description = text;
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text)) && text) read.source = text;
    SysFreeString(text);
    info->GetGUID(&read.guid);
    return read;
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidText(clsid); }

TEST(ReportComError, TextDescriptionWithoutRegisteredClassHasNoSource) {
    HRESULT result = ReportComError(kClsidLaunch, "Unable to start ActiveX server", 0, nullptr, kIidILaunch, 0,
                                    nullptr);
    EXPECT_EQ(result, DISP_E_EXCEPTION);
    ErrorInfoRead read = TakeErrorInfo();
    ASSERT_TRUE(read.present);
    EXPECT_EQ(read.description, L"Unable to start ActiveX server");
    EXPECT_TRUE(read.source.empty());
    EXPECT_TRUE(IsEqualGUID(read.guid, kIidILaunch));
}

TEST(ReportComError, RegisteredClassGivesItsProgIdAsSource) {
    const std::string key = ClassKey(kClsidModule);
    WriteString(HKEY_CLASSES_ROOT, key + "\\ProgID", nullptr, "Launcher.Module.1");
    HRESULT result = ReportComError(kClsidModule, "Error while working with registry", 0, nullptr, kIidIModule,
                                    E_FAIL, nullptr);
    ErrorInfoRead read = TakeErrorInfo();
    DeleteKeyTree(HKEY_CLASSES_ROOT, key);
    EXPECT_EQ(result, E_FAIL);  // a given result code is returned unchanged
    EXPECT_EQ(read.description, L"Error while working with registry");
    EXPECT_EQ(read.source, L"Launcher.Module.1");
    EXPECT_TRUE(IsEqualGUID(read.guid, kIidIModule));
}

TEST(ReportComError, MissingStringResourceReadsUnknownError) {
    HRESULT result = ReportComError(kClsidLaunch, 5u, 0, nullptr, kIidILaunch, 0, nullptr);
    EXPECT_EQ(static_cast<unsigned long>(result), 0x80040005ul);
    EXPECT_EQ(TakeErrorInfo().description, L"Unknown Error");

    // A string that exists is loaded from the module (the service name of the test resources).
    result = ReportComError(kClsidLaunch, 100u, 0, nullptr, kIidILaunch, 0, GetModuleHandleA(nullptr));
    EXPECT_EQ(static_cast<unsigned long>(result), 0x80040064ul);
    EXPECT_EQ(TakeErrorInfo().description, L"CorvaneTest");
}

TEST(ReportComError, InterfaceSupportsOnlyTheClassesOwnInterface) {
    EXPECT_EQ(InterfaceSupportsErrorInfo(kIidILaunch, kIidILaunch), S_OK);
    EXPECT_EQ(InterfaceSupportsErrorInfo(kIidILaunch, IID_IDispatch), S_FALSE);
    EXPECT_EQ(InterfaceSupportsErrorInfo(kIidIModule, kIidILaunch), S_FALSE);
}

TEST(ErrorResult, OnlyASuccessfulSystemCallReadsAsSuccess) {
    EXPECT_EQ(Win32Result(ERROR_SUCCESS), S_OK);
    EXPECT_EQ(Win32Result(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
}

TEST(SystemErrorText, PrefixNewlineAndTheSystemsText) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    std::string text = GetSystemErrorText("");
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text[0], '\n');
    char* expected = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND,
                   LANG_USER_DEFAULT, reinterpret_cast<char*>(&expected), 0, nullptr);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(text.substr(1), expected);
    LocalFree(expected);

    SetLastError(0x2FFFFFFF);  // no system text for this code
    EXPECT_EQ(GetSystemErrorText("Prefix only"), "Prefix only");
}

TEST(SystemErrorText, ShownInABoxOnTheInteractiveDesktop) {
    std::vector<MessageBoxRequest> shown;
    SetMessageBoxResponder([&](const MessageBoxRequest& request) {
        shown.push_back(request);
        return IDOK;
    });
    SetLastError(ERROR_ACCESS_DENIED);
    ShowSystemError("Unable to add application.");
    SetMessageBoxResponder(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].caption, "CorvaneTest");
    EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_SERVICE_NOTIFICATION));
    EXPECT_EQ(shown[0].text.rfind("Unable to add application.\n", 0), 0u);
}

}  // namespace

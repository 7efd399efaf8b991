// ActiveX servers: creation by ProgID, the configured method call and the late-bound call by
// name with its format letters, against the recording server of tools/testserver.cpp running
// out of process.
#include "config/AppCatalog.h"
#include "config/Conversions.h"
#include "host/Installation.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "launch/ActiveXServer.h"
#include "launch/LaunchWorker.h"
#include "launch/Tracking.h"
#include "support/TestServer.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

std::string Narrow(BSTR text) { return ToAnsi(text); }

// One recording server for the whole suite: each activation costs about a second.
class RecordingServerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        registration_ = std::make_unique<TestServerRegistration>("activex-recorder.log");
        Bstr progId(kTestServerProgIdWide);
        startResult_ = StartActiveXServer(progId.get(), server_.ReleaseAndGetAddressOf());
    }
    static void TearDownTestSuite() {
        server_.Reset();
        registration_.reset();
    }
    void SetUp() override {
        ASSERT_EQ(startResult_, S_OK);
        ASSERT_NE(server_.Get(), nullptr);
        mark_ = registration_->LogLines().size();
    }

    // The log lines that the server wrote since the test began (calls are synchronous, so a
    // call's line is there when the call returns).
    std::vector<std::string> NewLines() const { return registration_->LogLines(mark_); }

    // Calls Echo and returns the argument part that the server reports.
    template <typename... Args>
    std::string Echo(const char* format, Args... args) {
        Variant result;
        HRESULT hr = InvokeByName(server_.Get(), DISPATCH_METHOD, result.get(), nullptr, nullptr, L"Echo", format,
                                  args...);
        if (FAILED(hr)) return "failed " + std::to_string(hr);
        if (V_VT(result.get()) != VT_BSTR) return "no text";
        return Narrow(V_BSTR(result.get()));
    }

    // A call that proves, by being the next line of the log, that nothing was called before it.
    void Sentinel() {
        ASSERT_EQ(InvokeByName(server_.Get(), DISPATCH_METHOD, nullptr, nullptr, nullptr, L"Sentinel", nullptr),
                  S_OK);
    }

    static std::unique_ptr<TestServerRegistration> registration_;
    static ComPtr<IDispatch> server_;
    static HRESULT startResult_;
    std::size_t mark_ = 0;
};

std::unique_ptr<TestServerRegistration> RecordingServerTest::registration_;
ComPtr<IDispatch> RecordingServerTest::server_;
HRESULT RecordingServerTest::startResult_ = E_FAIL;

// --- InvokeByName -----------------------------------------------------------------------------

using InvokeByNameTest = RecordingServerTest;

TEST_F(InvokeByNameTest, EachLetterPassesItsTypeAndValue) {
    EXPECT_EQ(Echo("s", L"text"), "flags=1 args=1 named= | 0008:text");
    EXPECT_EQ(Echo("i", 0x12345), "flags=1 args=1 named= | 0002:9029");  // low 16 bits
    EXPECT_EQ(Echo("I", -7), "flags=1 args=1 named= | 0003:-7");
    EXPECT_EQ(Echo("r", 1.5f), "flags=1 args=1 named= | 0004:1.5");
    EXPECT_EQ(Echo("R", 2.25), "flags=1 args=1 named= | 0005:2.25");
    EXPECT_EQ(Echo("b", 5), "flags=1 args=1 named= | 000b:-1");
    EXPECT_EQ(Echo("b", 0), "flags=1 args=1 named= | 000b:0");
    EXPECT_EQ(Echo("d", DATE{45000.5}), "flags=1 args=1 named= | 0007:45000.5");
    CY money{};
    money.int64 = 1234567;
    EXPECT_EQ(Echo("c", money), "flags=1 args=1 named= | 0006:1234567");
    EXPECT_EQ(Echo("e", DISP_E_PARAMNOTFOUND), "flags=1 args=1 named= | 000a:0x80020004");
    // Objects of this process go to the server as objects.
    Bstr dictionaryId(L"Scripting.Dictionary");
    ComPtr<IDispatch> dictionary;
    ASSERT_EQ(StartActiveXServer(dictionaryId.get(), dictionary.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Echo("D", dictionary.Get()), "flags=1 args=1 named= | 0009:object");
    EXPECT_EQ(Echo("D", static_cast<IDispatch*>(nullptr)), "flags=1 args=1 named= | 0009:none");
    EXPECT_EQ(Echo("U", static_cast<IUnknown*>(dictionary.Get())), "flags=1 args=1 named= | 000d:object");

    // A VARIANT goes as it is, with its own type.
    Variant number;
    V_VT(number.get()) = VT_I4;
    V_I4(number.get()) = 77;
    EXPECT_EQ(Echo("v", *number.get()), "flags=1 args=1 named= | 0003:77");
    Variant text;
    V_VT(text.get()) = VT_BSTR;
    V_BSTR(text.get()) = SysAllocString(L"as given");
    EXPECT_EQ(Echo("v", *text.get()), "flags=1 args=1 named= | 0008:as given");
    EXPECT_EQ(Narrow(V_BSTR(text.get())), "as given");  // still the caller's
}

TEST_F(InvokeByNameTest, ArgumentsArriveLastFirst) {
    EXPECT_EQ(Echo("sIbR", L"first", 2, 1, 4.5),
              "flags=1 args=4 named= | 0005:4.5 | 000b:-1 | 0003:2 | 0008:first");
}

TEST_F(InvokeByNameTest, ByReferenceArgumentsPassTheirTargets) {
    LONG number = 5;
    EXPECT_EQ(Echo("&I", &number), "flags=1 args=1 named= | 4003:5");
    EXPECT_EQ(number, 6);

    SHORT small = 10;
    EXPECT_EQ(Echo("&i", &small), "flags=1 args=1 named= | 4002:10");
    EXPECT_EQ(small, 11);

    double real = 1.25;
    EXPECT_EQ(Echo("&R", &real), "flags=1 args=1 named= | 4005:1.25");
    EXPECT_EQ(real, 2.5);

    // A by-reference boolean is cleared before the call.
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_EQ(Echo("&b", &flag), "flags=1 args=1 named= | 400b:0");
    EXPECT_EQ(flag, VARIANT_TRUE);  // set by the server

    Bstr text(L"before");
    BSTR raw = text.release();
    EXPECT_EQ(Echo("&s", &raw), "flags=1 args=1 named= | 4008:before");
    text.reset(raw);
    EXPECT_EQ(Narrow(text.get()), "changed");

    Variant any;
    V_VT(any.get()) = VT_I4;
    V_I4(any.get()) = 3;
    EXPECT_EQ(Echo("&v", any.get()), "flags=1 args=1 named= | 400c:(0003:3)");
    EXPECT_EQ(V_VT(any.get()), VT_I4);
    EXPECT_EQ(V_I4(any.get()), 42);

    LONG second = 100;
    EXPECT_EQ(Echo("I&Is", 1, &second, L"last"), "flags=1 args=3 named= | 0008:last | 4003:100 | 0003:1");
    EXPECT_EQ(second, 101);
}

TEST_F(InvokeByNameTest, MalformedFormatsEndTheArgumentList) {
    EXPECT_EQ(Echo(nullptr), "flags=1 args=0 named=");
    EXPECT_EQ(Echo(""), "flags=1 args=0 named=");
    EXPECT_EQ(Echo("Ix", 1, 2), "flags=1 args=1 named= | 0003:1");
    EXPECT_EQ(Echo("IqI", 1, 2, 3), "flags=1 args=1 named= | 0003:1");
    EXPECT_EQ(Echo("I&", 1), "flags=1 args=1 named= | 0003:1");
    EXPECT_EQ(Echo("&&I", 1), "flags=1 args=0 named=");
}

TEST_F(InvokeByNameTest, PropertyPutNamesTheValue) {
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, L"Value", "sI", L"key", 9),
              S_OK);
    // Without a value a put is refused before anything is called.
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, L"Value", nullptr),
              E_INVALIDARG);
    Sentinel();
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"CALL Value flags=4 args=2 named=-3 | 0003:9 | 0008:key",
                                                    "CALL Sentinel flags=1 args=0 named="}));
}

TEST_F(InvokeByNameTest, FailuresBeforeTheCall) {
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_METHOD, nullptr, nullptr, nullptr, L"Missing", nullptr),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(InvokeByName(nullptr, DISPATCH_METHOD, nullptr, nullptr, nullptr, L"Echo", nullptr), E_INVALIDARG);
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    Sentinel();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CALL Sentinel flags=1 args=0 named="});
}

TEST_F(InvokeByNameTest, AResultHolderIsClearedFirst) {
    Variant result;
    V_VT(result.get()) = VT_I4;
    V_I4(result.get()) = 5;
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_METHOD, result.get(), nullptr, nullptr, L"Quiet", nullptr), S_OK);
    EXPECT_EQ(V_VT(result.get()), VT_EMPTY);
}

// --- StartActiveXServer -------------------------------------------------------------------------

TEST(StartActiveXServerTest, AnUnregisteredProgIdFailsWithItsMessage) {
    SetErrorInfo(0, nullptr);
    IDispatch* server = reinterpret_cast<IDispatch*>(0x1);
    Bstr progId(L"Corvane.NoSuchServer.1");
    EXPECT_EQ(StartActiveXServer(progId.get(), &server), E_FAIL);
    EXPECT_EQ(server, nullptr);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    Bstr description;
    ASSERT_EQ(info->GetDescription(description.out()), S_OK);
    EXPECT_EQ(Narrow(description.get()), "Unable to start ActiveX server");
    GUID guid{};
    ASSERT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, kIidILaunch));

    server = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(StartActiveXServer(nullptr, &server), E_FAIL);
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(StartActiveXServer(progId.get(), nullptr), E_POINTER);
}

TEST(StartActiveXServerTest, AnInProcessServerIsCreatedWithItsDispatch) {
    Bstr progId(L"Scripting.Dictionary");
    ComPtr<IDispatch> dictionary;
    ASSERT_EQ(StartActiveXServer(progId.get(), dictionary.ReleaseAndGetAddressOf()), S_OK);
    IDispatch* server = dictionary.Get();
    ASSERT_EQ(InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, L"Add", "ss", L"k", L"v"), S_OK);
    Variant count;
    ASSERT_EQ(InvokeByName(server, DISPATCH_PROPERTYGET, count.get(), nullptr, nullptr, L"Count", nullptr), S_OK);
    EXPECT_EQ(V_VT(count.get()), VT_I4);
    EXPECT_EQ(V_I4(count.get()), 1);
}

using StartRecorderTest = RecordingServerTest;

TEST_F(StartRecorderTest, TheReferenceHandedOutIsTheOnlyOne) {
    // A second object of the running server: created, and gone with its one reference.
    Bstr progId(kTestServerProgIdWide);
    ComPtr<IDispatch> second;
    ASSERT_EQ(StartActiveXServer(progId.get(), second.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_NE(second.Get(), nullptr);
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CREATED"});
    second.Reset();
    EXPECT_TRUE(Eventually([&] { return NewLines().size() == 2; }));
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"CREATED", "RELEASED sleeper=0"}));
}

// --- InvokeConfiguredMethod ---------------------------------------------------------------------

class InvokeConfiguredMethodTest : public RecordingServerTest {
protected:
    void SetUp() override {
        RecordingServerTest::SetUp();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Host().modulesKeyPath);
        PrepareRegistry();
    }
    void TearDown() override { DeleteKeyTree(HKEY_LOCAL_MACHINE, Host().modulesKeyPath); }

    struct Parameter {
        const wchar_t* value;
        const wchar_t* type;
    };
    // Stores an ActiveX application of the recording server (or of progId).
    static void Configure(const wchar_t* name, const wchar_t* method, std::vector<Parameter> parameters = {},
                          LONG instances = 1, const wchar_t* progId = kTestServerProgIdWide,
                          const wchar_t* exePath = L"") {
        AppCatalog catalog;
        ASSERT_EQ(catalog.AddNew(), S_OK);
        ASSERT_EQ(catalog.put_DispName(name), S_OK);
        ASSERT_EQ(catalog.put_ProgId(progId), S_OK);
        ASSERT_EQ(catalog.put_ExePath(exePath), S_OK);
        ASSERT_EQ(catalog.put_Instances(instances), S_OK);
        ASSERT_EQ(catalog.put_MethodName(method), S_OK);
        using Put = HRESULT (AppCatalog::*)(const wchar_t*);
        const Put values[] = {&AppCatalog::put_ParamOne, &AppCatalog::put_ParamTwo, &AppCatalog::put_ParamThree,
                              &AppCatalog::put_ParamFour};
        const Put types[] = {&AppCatalog::put_ParamOneType, &AppCatalog::put_ParamTwoType,
                             &AppCatalog::put_ParamThreeType, &AppCatalog::put_ParamFourType};
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            ASSERT_EQ((catalog.*values[i])(parameters[i].value), S_OK);
            ASSERT_EQ((catalog.*types[i])(parameters[i].type), S_OK);
        }
        ASSERT_EQ(catalog.Update(), S_OK);
    }

    int Invoke(const wchar_t* name) {
        Bstr appName(name);
        return InvokeConfiguredMethod(&catalog_, server_.Get(), appName.get());
    }

    AppCatalog catalog_;
};

TEST_F(InvokeConfiguredMethodTest, WithoutParametersTheMethodIsCalledWithoutArguments) {
    Configure(L"NoParameters", L"Plain");
    EXPECT_EQ(Invoke(L"NoParameters"), 1);
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CALL Plain flags=1 args=0 named="});
}

TEST_F(InvokeConfiguredMethodTest, VariantParametersArriveAsStringsInOrder) {
    Configure(L"Two", L"Pair", {{L"10", L"VT_VARIANT"}, {L"abc", L"VT_VARIANT"}});
    Configure(L"Four", L"Quad",
              {{L"1", L"VT_VARIANT"}, {L"2", L"VT_VARIANT"}, {L"3", L"VT_VARIANT"}, {L"4", L"VT_VARIANT"}});
    EXPECT_EQ(Invoke(L"Two"), 1);
    EXPECT_EQ(Invoke(L"Four"), 1);
    EXPECT_EQ(NewLines(),
              (std::vector<std::string>{"CALL Pair flags=1 args=2 named= | 0008:abc | 0008:10",
                                        "CALL Quad flags=1 args=4 named= | 0008:4 | 0008:3 | 0008:2 | 0008:1"}));
}

TEST_F(InvokeConfiguredMethodTest, OtherParameterTypesMakeNoCall) {
    Configure(L"Gap", L"Gapped", {{L"", L""}, {L"x", L"VT_VARIANT"}});
    Configure(L"Long", L"Typed", {{L"5", L"VT_I4"}});
    Configure(L"LowerCase", L"Lower", {{L"5", L"vt_variant"}});
    Configure(L"Unknown type", L"Odd", {{L"5", L"VT_VARIANT"}, {L"6", L"VT_WHATEVER"}});
    EXPECT_EQ(Invoke(L"Gap"), 0);
    EXPECT_EQ(Invoke(L"Long"), 0);
    EXPECT_EQ(Invoke(L"LowerCase"), 0);
    EXPECT_EQ(Invoke(L"Unknown type"), 0);
    Sentinel();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CALL Sentinel flags=1 args=0 named="});
}

TEST_F(InvokeConfiguredMethodTest, NothingToCallOrACallThatFailsCountsAsDone) {
    Configure(L"NoMethod", L"");
    Configure(L"Refused", L"Missing");
    EXPECT_EQ(Invoke(L"NoMethod"), 1);
    EXPECT_EQ(Invoke(L"Refused"), 1);
    Sentinel();
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CALL Sentinel flags=1 args=0 named="});
}

TEST_F(InvokeConfiguredMethodTest, MissingArgumentsOrApplicationMakeNoCall) {
    Configure(L"Present", L"Plain");
    Bstr present(L"Present");
    EXPECT_EQ(InvokeConfiguredMethod(&catalog_, nullptr, present.get()), 0);
    EXPECT_EQ(InvokeConfiguredMethod(&catalog_, server_.Get(), nullptr), 0);
    EXPECT_EQ(InvokeConfiguredMethod(nullptr, server_.Get(), present.get()), 0);
    // A name that is not (or no longer) configured does not reuse the record loaded before.
    EXPECT_EQ(Invoke(L"Present"), 1);
    EXPECT_EQ(Invoke(L"present"), 0);
    Sentinel();
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"CALL Plain flags=1 args=0 named=",
                                                    "CALL Sentinel flags=1 args=0 named="}));
}

// --- ActiveX applications in the launch pass ------------------------------------------------------

class ActiveXLaunchPassTest : public InvokeConfiguredMethodTest {
protected:
    void SetUp() override {
        InvokeConfiguredMethodTest::SetUp();
        TerminateAllApplications();
    }
    void TearDown() override {
        TerminateAllApplications();
        KillProcessesNamed("sleeper.exe");
        InvokeConfiguredMethodTest::TearDown();
    }
    std::size_t Released() const {
        std::size_t count = 0;
        for (const auto& line : NewLines()) count += line.rfind("RELEASED", 0) == 0 ? 1 : 0;
        return count;
    }
};

TEST_F(ActiveXLaunchPassTest, EachInstanceIsCreatedTrackedAndCalledAndItsPathIgnored) {
    const std::string sleeper = BuildPath("sleeper.exe");
    Configure(L"Recorded", L"Ping", {{L"x", L"VT_VARIANT"}}, 2, kTestServerProgIdWide,
              std::wstring(sleeper.begin(), sleeper.end()).c_str());
    AppCatalog catalog;
    EXPECT_EQ(LaunchAllApplications(&catalog), 1u);
    EXPECT_EQ(Tracker().ServerCount(), 2u);
    EXPECT_EQ(Tracker().ProcessCount(), 0u);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"CREATED", "CALL Ping flags=1 args=1 named= | 0008:x", "CREATED",
                                                    "CALL Ping flags=1 args=1 named= | 0008:x"}));

    // The tracked references are the servers' only ones.
    TerminateAllApplications();
    EXPECT_EQ(Tracker().ServerCount(), 0u);
    EXPECT_TRUE(Eventually([&] { return Released() == 2; }));
}

TEST_F(ActiveXLaunchPassTest, WithoutAMethodTheServerIsCreatedAndTrackedOnly) {
    Configure(L"Silent", L"");
    EXPECT_EQ(LaunchAllApplications(nullptr), 1u);
    EXPECT_EQ(Tracker().ServerCount(), 1u);
    EXPECT_EQ(NewLines(), std::vector<std::string>{"CREATED"});
}

TEST_F(ActiveXLaunchPassTest, AServerThatCannotBeCreatedIsSkipped) {
    Configure(L"A missing server", L"Ping", {}, 1, L"Corvane.NoSuchServer");
    Configure(L"B recorded", L"Ping");
    EXPECT_EQ(LaunchAllApplications(nullptr), 1u);
    EXPECT_EQ(Tracker().ServerCount(), 1u);
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"CREATED", "CALL Ping flags=1 args=0 named="}));
}

}  // namespace

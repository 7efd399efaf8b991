// ActiveX servers: creation by ProgID, the configured method call, the late-bound call by name
// with its format letters, and ActiveX applications in the launch pass, against the recording
// server of tools/testserver.cpp running out of process.
#include "config/AppCatalog.h"
#include "base/Conversions.h"
#include "support/EventRecorder.h"
#include "config/ServiceSettings.h"
#include "launch/ActiveXServer.h"
#include "launch/LaunchWorker.h"
#include "launch/Tracking.h"
#include "support/TestServer.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

using Lines = std::vector<std::string>;

// One recording server for each suite: an activation costs about a second.
class RecordingServerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        registration_ = std::make_unique<TestServerRegistration>("activex-recorder.log");
        startResult_ = StartActiveXServer(Bstr(kTestServerProgIdWide).get(), server_.ReleaseAndGetAddressOf());
    }
    static void TearDownTestSuite() {
        server_.Reset();
        registration_.reset();
    }
    void SetUp() override {
        ASSERT_EQ(startResult_, S_OK);
        mark_ = registration_->LogLines().size();
    }

    // What the server logged since the test began. Calls are synchronous: a call's line is
    // there when the call returns.
    Lines NewLines() const { return registration_->LogLines(mark_); }
    static HRESULT Call(const wchar_t* name, WORD flags = DISPATCH_METHOD) {
        return InvokeByName(server_.Get(), flags, nullptr, nullptr, nullptr, name, nullptr);
    }
    // The argument part of the line that Echo logs and returns.
    template <typename... Args>
    std::string Echo(const char* format, Args... args) {
        Variant result;
        HRESULT hr = InvokeByName(server_.Get(), DISPATCH_METHOD, result.get(), nullptr, nullptr, L"Echo", format,
                                  args...);
        if (FAILED(hr) || V_VT(result.get()) != VT_BSTR) return "failed";
        std::string text = ToAnsi(V_BSTR(result.get()));
        const std::string prefix = "flags=1 args=";
        return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
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

TEST_F(InvokeByNameTest, EachLetterPassesItsTypeAndValueLastArgumentFirst) {
    EXPECT_EQ(Echo("s", L"text"), "1 named= | 0008:text");
    EXPECT_EQ(Echo("i", 0x12345), "1 named= | 0002:9029");  // low 16 bits
    EXPECT_EQ(Echo("I", -7), "1 named= | 0003:-7");
    EXPECT_EQ(Echo("r", 1.5f), "1 named= | 0004:1.5");
    EXPECT_EQ(Echo("R", 2.25), "1 named= | 0005:2.25");
    EXPECT_EQ(Echo("bb", 5, 0), "2 named= | 000b:0 | 000b:-1");
    EXPECT_EQ(Echo("d", DATE{45000.5}), "1 named= | 0007:45000.5");
    CY money{};
    money.int64 = 1234567;
    EXPECT_EQ(Echo("c", money), "1 named= | 0006:1234567");
    EXPECT_EQ(Echo("e", DISP_E_PARAMNOTFOUND), "1 named= | 000a:0x80020004");
    Variant text;
    V_VT(text.get()) = VT_BSTR;
    V_BSTR(text.get()) = SysAllocString(L"as given");
    EXPECT_EQ(Echo("vI", *text.get(), 3), "2 named= | 0003:3 | 0008:as given");  // its own type
    EXPECT_EQ(ToAnsi(V_BSTR(text.get())), "as given");                          // still the caller's

    ComPtr<IDispatch> dictionary;  // an object of this process (created in-process)
    ASSERT_EQ(StartActiveXServer(Bstr(L"Scripting.Dictionary").get(), dictionary.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Echo("DUD", dictionary.Get(), static_cast<IUnknown*>(dictionary.Get()), static_cast<IDispatch*>(nullptr)),
              "3 named= | 0009:none | 000d:object | 0009:object");
}

TEST_F(InvokeByNameTest, ByReferenceArgumentsPassTheirTargets) {
    LONG number = 5;
    SHORT small = 10;
    double real = 1.25;
    VARIANT_BOOL flag = VARIANT_TRUE;  // cleared before the call
    BSTR text = SysAllocString(L"before");
    Variant any;
    V_VT(any.get()) = VT_I4;
    V_I4(any.get()) = 3;
    EXPECT_EQ(Echo("&I&i&R&b&s&vI", &number, &small, &real, &flag, &text, any.get(), 9),
              "7 named= | 0003:9 | 400c:(0003:3) | 4008:before | 400b:0 | 4005:1.25 | 4002:10 | 4003:5");
    // The server's changes come back through the references.
    EXPECT_EQ(number, 6);
    EXPECT_EQ(small, 11);
    EXPECT_EQ(real, 2.5);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(ToAnsi(text), "changed");
    SysFreeString(text);
    EXPECT_EQ(V_I4(any.get()), 42);
}

TEST_F(InvokeByNameTest, MalformedFormatsEndTheArgumentList) {
    EXPECT_EQ(Echo(nullptr), "0 named=");
    EXPECT_EQ(Echo(""), "0 named=");
    EXPECT_EQ(Echo("IqI", 1, 2, 3), "1 named= | 0003:1");
    EXPECT_EQ(Echo("I&", 1), "1 named= | 0003:1");
    EXPECT_EQ(Echo("&&I", 1), "0 named=");
}

TEST_F(InvokeByNameTest, PropertyPutNamesItsValueAndFailuresComeBeforeTheCall) {
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_PROPERTYPUT, nullptr, nullptr, nullptr, L"Value", "sI", L"key", 9),
              S_OK);
    EXPECT_EQ(Call(L"Value", DISPATCH_PROPERTYPUT), E_INVALIDARG);  // a put without a value
    EXPECT_EQ(Call(L"Missing"), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Call(nullptr), E_INVALIDARG);
    EXPECT_EQ(InvokeByName(nullptr, DISPATCH_METHOD, nullptr, nullptr, nullptr, L"Echo", nullptr), E_INVALIDARG);
    Variant result;  // cleared before the call
    V_VT(result.get()) = VT_I4;
    EXPECT_EQ(InvokeByName(server_.Get(), DISPATCH_METHOD, result.get(), nullptr, nullptr, L"Quiet", nullptr), S_OK);
    EXPECT_EQ(V_VT(result.get()), VT_EMPTY);
    EXPECT_EQ(NewLines(), (Lines{"CALL Value flags=4 args=2 named=-3 | 0003:9 | 0008:key",
                                 "CALL Quiet flags=1 args=0 named="}));
}

// --- StartActiveXServer -------------------------------------------------------------------------

using StartActiveXServerTest = RecordingServerTest;

TEST_F(StartActiveXServerTest, TheReferenceHandedOutIsTheOnlyOne) {
    ComPtr<IDispatch> second;
    ASSERT_EQ(StartActiveXServer(Bstr(kTestServerProgIdWide).get(), second.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(NewLines(), Lines{"CREATED"});
    second.Reset();
    EXPECT_TRUE(Eventually([&] { return NewLines().size() == 2; }));
    EXPECT_EQ(NewLines(), (Lines{"CREATED", "RELEASED sleeper=0"}));
}

TEST(StartActiveXServerFailureTest, AnUnregisteredProgIdFailsWithItsMessage) {
    IDispatch* server = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(StartActiveXServer(Bstr(L"Corvane.NoSuchServer.1").get(), &server), E_FAIL);
    EXPECT_EQ(server, nullptr);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    Bstr description;
    GUID guid{};
    info->GetDescription(description.out());
    info->GetGUID(&guid);
    EXPECT_EQ(ToAnsi(description.get()), "Unable to start ActiveX server");
    EXPECT_TRUE(IsEqualGUID(guid, kIidILaunch));
    EXPECT_EQ(StartActiveXServer(nullptr, &server), E_FAIL);
    EXPECT_EQ(StartActiveXServer(nullptr, nullptr), E_POINTER);
}

// A server that does not start is reported to the event log with its ProgID and the reason. A
// class registered only for the other architecture as an in-process server (a DLL that this
// process cannot load) is named as such; any other failure gives its code and the system's text.
using StartActiveXServerEventTest = EventRecordingTest;

TEST_F(StartActiveXServerEventTest, TheEventLogToldWhyAServerDidNotStart) {
    // An in-process class registered for the other architecture only, and one registered for
    // this one (its DLL missing).
    const struct {
        const char* progId;
        const char* classId;
        REGSAM view;
    } registrations[] = {{"CorvaneTests.OtherArchitecture", "{0C4B5E1D-7A2F-4E38-9B60-3D1F2A7C8E95}", kOtherRegistryView},
                         {"CorvaneTests.OwnArchitecture", "{6E2A9F30-4B7C-4D15-A8E2-5C9B1D3F7A46}", 0}};
    const std::string otherArchitecture =
        sizeof(void*) == 8 ? "its class is registered only for 32-bit programs, as an in-process server (a DLL) that "
                             "the 64-bit Corvane cannot load. The x86 build of Corvane can create it."
                           : "its class is registered only for 64-bit programs, as an in-process server (a DLL) that "
                             "the 32-bit Corvane cannot load. The x64 build of Corvane can create it.";
    const struct {
        const wchar_t* progId;
        std::string expectedStart;  // of the one event's text
    } cases[] = {
        {L"CorvaneTests.OtherArchitecture",
         "Unable to start ActiveX server: CorvaneTests.OtherArchitecture\nDetailed error info: " + otherArchitecture},
        {L"Corvane.NoSuchServer.1",
         "Unable to start ActiveX server: Corvane.NoSuchServer.1\nDetailed error info: 0x800401F3"},
        {L"CorvaneTests.OwnArchitecture",
         "Unable to start ActiveX server: CorvaneTests.OwnArchitecture\nDetailed error info: 0x"},
        {nullptr, "Unable to start ActiveX server: \nDetailed error info: 0x80004003"},
    };
    for (const auto& registration : registrations) {
        WriteString(HKEY_CLASSES_ROOT, std::string(registration.progId) + "\\CLSID", nullptr, registration.classId,
                    registration.view);
        WriteString(HKEY_CLASSES_ROOT, std::string("CLSID\\") + registration.classId + "\\InprocServer32", nullptr,
                    "C:\\nowhere\\server.dll", registration.view);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectedStart);
        events.clear();
        IDispatch* server = nullptr;
        EXPECT_EQ(StartActiveXServer(c.progId ? Bstr(c.progId).get() : nullptr, &server), E_FAIL);
        EXPECT_EQ(server, nullptr);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].id, kPlainTextEventId);
        EXPECT_EQ(events[0].text.rfind(c.expectedStart, 0), 0u) << events[0].text;
        if (c.expectedStart.find(" 0x") != std::string::npos) {  // a code, not the architecture
            EXPECT_EQ(events[0].text.find("registered only"), std::string::npos) << events[0].text;
        }
    }
    for (const auto& registration : registrations) {
        DeleteKeyTree(HKEY_CLASSES_ROOT, registration.progId, registration.view);
        DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + registration.classId, registration.view);
    }
}

// --- InvokeConfiguredMethod and the launch pass --------------------------------------------------

class ConfiguredServerTest : public RecordingServerTest {
protected:
    void SetUp() override {
        RecordingServerTest::SetUp();
        TearDown();
    }
    void TearDown() override {
        tracker.Cancel(true);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().modules);
        PrepareServiceKeys(TestKeys());
    }

    LaunchTracker tracker;

    // Stores an ActiveX application; parameters are value and type pairs.
    static void Configure(const wchar_t* name, const wchar_t* method,
                          std::vector<std::pair<const wchar_t*, const wchar_t*>> parameters = {}, LONG instances = 1,
                          const wchar_t* progId = kTestServerProgIdWide, const std::string& exePath = {}) {
        AppCatalog catalog(TestKeys());
        catalog.AddNew();
        Application& record = catalog.Edit();
        record.name = name;
        record.progId = progId;
        record.exePath = ToWide(exePath);
        record.instances = instances;
        record.methodName = method;
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            record.*kMethodParameters[i].value = parameters[i].first;
            record.*kMethodParameters[i].type = parameters[i].second;
        }
        ASSERT_EQ(catalog.Update(), S_OK);
    }
    // The method of the application stored exactly as name; 0 when there is none.
    int Invoke(const wchar_t* name) {
        short found = 0;
        if (FAILED(catalog_.Find(name, &found)) || found != 1) return 0;
        return InvokeConfiguredMethod(catalog_.Record(), server_.Get());
    }

    AppCatalog catalog_{TestKeys()};
};

TEST_F(ConfiguredServerTest, VariantParametersArriveAsStringsInOrder) {
    Configure(L"None", L"Plain");
    Configure(L"Two", L"Pair", {{L"10", L"VT_VARIANT"}, {L"abc", L"VT_VARIANT"}});
    Configure(L"Four", L"Quad", {{L"1", L"VT_VARIANT"}, {L"2", L"VT_VARIANT"}, {L"3", L"VT_VARIANT"},
                                 {L"4", L"VT_VARIANT"}});
    EXPECT_EQ(Invoke(L"None"), 1);
    EXPECT_EQ(Invoke(L"Two"), 1);
    EXPECT_EQ(Invoke(L"Four"), 1);
    EXPECT_EQ(NewLines(), (Lines{"CALL Plain flags=1 args=0 named=",
                                 "CALL Pair flags=1 args=2 named= | 0008:abc | 0008:10",
                                 "CALL Quad flags=1 args=4 named= | 0008:4 | 0008:3 | 0008:2 | 0008:1"}));
}

TEST_F(ConfiguredServerTest, OtherTypesMissingPartsAndRefusedCallsMakeNoCall) {
    Configure(L"Gap", L"Gapped", {{L"", L""}, {L"x", L"VT_VARIANT"}});
    Configure(L"Long", L"Typed", {{L"5", L"VT_I4"}});
    Configure(L"LowerCase", L"Lower", {{L"5", L"vt_variant"}});
    Configure(L"NoMethod", L"");
    Configure(L"Refused", L"Missing");
    EXPECT_EQ(Invoke(L"Gap"), 0);
    EXPECT_EQ(Invoke(L"Long"), 0);
    EXPECT_EQ(Invoke(L"LowerCase"), 0);
    EXPECT_EQ(Invoke(L"NoMethod"), 1);  // nothing to call
    EXPECT_EQ(Invoke(L"Refused"), 1);   // the server's refusal is not looked at
    EXPECT_EQ(InvokeConfiguredMethod(catalog_.Record(), nullptr), 0);
    // A name no longer configured does not reuse the record loaded before.
    Configure(L"Present", L"Plain");
    EXPECT_EQ(Invoke(L"Present"), 1);
    EXPECT_EQ(Invoke(L"present"), 0);
    EXPECT_EQ(NewLines(), Lines{"CALL Plain flags=1 args=0 named="});
}

TEST_F(ConfiguredServerTest, ThePassCreatesTracksAndCallsEachInstanceAndIgnoresItsPath) {
    Configure(L"A missing server", L"Ping", {}, 1, L"Corvane.NoSuchServer");
    Configure(L"B recorded", L"Ping", {{L"x", L"VT_VARIANT"}}, 2, kTestServerProgIdWide, BuildPath("sleeper.exe"));
    Configure(L"C silent", L"");
    EXPECT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);
    EXPECT_EQ(tracker.ServerCount(), 3u);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());
    EXPECT_EQ(NewLines(), (Lines{"CREATED", "CALL Ping flags=1 args=1 named= | 0008:x", "CREATED",
                                 "CALL Ping flags=1 args=1 named= | 0008:x", "CREATED"}));

    // The tracked references are the servers' only ones.
    tracker.Cancel(true);
    EXPECT_TRUE(Eventually([&] { return NewLines().size() == 8; }));
    EXPECT_EQ(NewLines().back(), "RELEASED sleeper=0");
}

}  // namespace

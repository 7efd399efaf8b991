// Starting one standard program: the argument checks and their messages, what the started
// program receives, and the report of a failed start.
#include "base/EventLog.h"
#include "base/Owners.h"
#include "launch/StartApplication.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <mutex>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct RecordedEvent {
    DWORD id;
    std::string text;
};

// VARIANT arguments as an automation caller would pass them.
void SetText(Variant& v, const std::string& text) {
    v.clear();
    v.get()->vt = VT_BSTR;
    v.get()->bstrVal = SysAllocString(Wide(text).c_str());
}

void SetI4(Variant& v, LONG value) {
    v.clear();
    v.get()->vt = VT_I4;
    v.get()->lVal = value;
}

void SetI2(Variant& v, SHORT value) {
    v.clear();
    v.get()->vt = VT_I2;
    v.get()->iVal = value;
}

void SetOmitted(Variant& v) {
    v.clear();
    v.get()->vt = VT_ERROR;
    v.get()->scode = DISP_E_PARAMNOTFOUND;
}

// The description and interface of the thread's error info; empty when there is none.
struct ErrorInfoSeen {
    bool present = false;
    std::string description;
    GUID interfaceId{};
};

ErrorInfoSeen TakeErrorInfo() {
    ErrorInfoSeen seen;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return seen;
    seen.present = true;
    Bstr description;
    info->GetDescription(description.out());
    for (UINT i = 0; i < description.length(); ++i) seen.description += static_cast<char>(description.get()[i]);
    info->GetGUID(&seen.interfaceId);
    return seen;
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
                                  LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text ? text : "", length);
    if (text) LocalFree(text);
    return result;
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return std::string(buffer, length);
}

class StartApplicationTest : public testing::Test {
protected:
    void SetUp() override {
        KillProcessesNamed("sleeper.exe");
        SetErrorInfo(0, nullptr);
        SetEventSink([this](WORD, DWORD id, const std::string& text) {
            std::lock_guard<std::mutex> guard(eventsLock);
            events.push_back({id, text});
        });
        SetText(path, sleeper);
    }
    void TearDown() override {
        SetEventSink({});
        SetEnvironmentVariableA("SLEEPER_REPORT_DIR", nullptr);
        KillProcessesNamed("sleeper.exe");
    }

    std::vector<RecordedEvent> Events() {
        std::lock_guard<std::mutex> guard(eventsLock);
        return events;
    }

    // Waits for the one report of the started sleeper.
    SleeperReport ReportOf(DWORD pid) {
        SleeperReport found;
        Eventually([&] {
            for (const auto& report : reports.Reports())
                if (report.pid == pid) {
                    found = report;
                    return true;
                }
            return false;
        });
        return found;
    }

    const std::string sleeper = BuildPath("sleeper.exe");
    ReportDirectory reports{"StartApplication"};
    Variant path;  // VT_BSTR holding the sleeper's path
    std::mutex eventsLock;
    std::vector<RecordedEvent> events;
};

// --- Argument checks --------------------------------------------------------------------

TEST_F(StartApplicationTest, EachWrongArgumentIsRefusedWithItsOwnMessage) {
    Variant good, wrong, negative, shortInt, empty;
    SetText(good, "--seconds 60");
    SetI4(wrong, 5);
    SetI4(negative, -1);
    SetI2(shortInt, 3);

    struct Case {
        const char* what;
        const VARIANT* args;
        const VARIANT* show;
        const VARIANT* dir;
        const char* message;
    };
    const Case cases[] = {
        {"arguments as VT_I4", wrong.get(), nullptr, nullptr, kCmdLineArgsMessage},
        {"arguments as VT_EMPTY", empty.get(), nullptr, nullptr, kCmdLineArgsMessage},
        // The arguments are looked at first, even when the others are wrong too.
        {"arguments and show both wrong", wrong.get(), negative.get(), wrong.get(), kCmdLineArgsMessage},
        {"show -1", good.get(), negative.get(), nullptr, kShowAttribMessage},
        {"show as VT_I2 3", good.get(), shortInt.get(), nullptr, kShowAttribMessage},
        {"show as text", good.get(), good.get(), nullptr, kShowAttribMessage},
        {"show wrong before directory wrong", nullptr, negative.get(), wrong.get(), kShowAttribMessage},
        {"directory as VT_I4", good.get(), nullptr, wrong.get(), kWorkDirMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetErrorInfo(0, nullptr);
        DWORD pid = 4242;
        EXPECT_EQ(StartApplication(path.get()->bstrVal, c.args, c.show, c.dir, &pid), E_INVALIDARG);
        EXPECT_EQ(pid, 4242u);
        ErrorInfoSeen info = TakeErrorInfo();
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.description, c.message);
        EXPECT_TRUE(IsEqualGUID(info.interfaceId, kIidILaunch));
    }
    // Nothing was started and nothing was logged: refusals go to the caller only.
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());
    EXPECT_TRUE(Events().empty());
}

TEST_F(StartApplicationTest, NullPathOrIdPointerIsRefusedWithoutErrorInfoOrEvent) {
    DWORD pid = 7;
    EXPECT_EQ(StartApplication(nullptr, nullptr, nullptr, nullptr, &pid), E_POINTER);
    EXPECT_EQ(pid, 7u);
    EXPECT_FALSE(TakeErrorInfo().present);

    // Without a place for the id nothing is started: the program would run untracked.
    EXPECT_EQ(StartApplication(path.get()->bstrVal, nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());
    EXPECT_TRUE(Events().empty());
}

// --- What the started program receives --------------------------------------------------

TEST_F(StartApplicationTest, OmittedArgumentsGivePathAndSpaceShownNormallyInOurDirectory) {
    SetEnvironmentVariableA("SLEEPER_REPORT_DIR", reports.path().c_str());
    Variant omitted;
    SetOmitted(omitted);

    // Null pointers and VT_ERROR/DISP_E_PARAMNOTFOUND both count as omitted.
    DWORD first = 0, second = 0;
    ASSERT_EQ(StartApplication(path.get()->bstrVal, nullptr, nullptr, nullptr, &first), S_OK);
    ASSERT_EQ(StartApplication(path.get()->bstrVal, omitted.get(), omitted.get(), omitted.get(), &second), S_OK);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    for (DWORD pid : {first, second}) {
        SleeperReport report = ReportOf(pid);
        ASSERT_EQ(report.pid, pid);
        EXPECT_EQ(report.commandLine, sleeper + " ");
        EXPECT_EQ(report.show, static_cast<DWORD>(SW_SHOWNORMAL));
        EXPECT_TRUE(report.flags & STARTF_USESHOWWINDOW);
        EXPECT_EQ(lstrcmpiA(report.directory.c_str(), CurrentDirectory().c_str()), 0) << report.directory;
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(StartApplicationTest, ArgumentsShowValueAndStartDirectoryReachTheProgram) {
    const std::string windows = "C:\\windows";
    Variant args, show, dir;
    SetText(args, "-a b --report " + reports.path());
    SetI4(show, SW_SHOWMINIMIZED);
    SetText(dir, windows);

    DWORD pid = 0;
    ASSERT_EQ(StartApplication(path.get()->bstrVal, args.get(), show.get(), dir.get(), &pid), S_OK);
    SleeperReport report = ReportOf(pid);
    ASSERT_EQ(report.pid, pid);
    // Path, one space, the arguments: nothing quoted, nothing added.
    EXPECT_EQ(report.commandLine, sleeper + " -a b --report " + reports.path());
    EXPECT_EQ(report.show, static_cast<DWORD>(SW_SHOWMINIMIZED));
    EXPECT_TRUE(report.flags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(lstrcmpiA(report.directory.c_str(), windows.c_str()), 0) << report.directory;
}

TEST_F(StartApplicationTest, ShowValuesZeroAndAboveAreHandedOnAndEmptyDirectoryMeansOurs) {
    Variant args, dir;
    SetText(args, "--report " + reports.path());
    SetText(dir, "");
    // 0 is the configuration's "Hidden": started with SW_HIDE. Values above the four offered
    // pass on as their low 16 bits.
    const struct {
        LONG given;
        DWORD received;
    } cases[] = {{0, SW_HIDE}, {1, SW_SHOWNORMAL}, {3, SW_SHOWMAXIMIZED}, {0x10007, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        Variant show;
        SetI4(show, c.given);
        DWORD pid = 0;
        ASSERT_EQ(StartApplication(path.get()->bstrVal, args.get(), show.get(), dir.get(), &pid), S_OK);
        SleeperReport report = ReportOf(pid);
        ASSERT_EQ(report.pid, pid);
        EXPECT_EQ(report.show, c.received);
        EXPECT_EQ(lstrcmpiA(report.directory.c_str(), CurrentDirectory().c_str()), 0) << report.directory;
    }
}

TEST_F(StartApplicationTest, PathWithSpacesAndLongArgumentsArriveWhole) {
    // The path is the application name, so one with spaces is found; the program sees it
    // quoted at the start of its command line, so that its first argument is the whole path.
    const std::string folder = BuildPath("reports\\with space");
    const std::string copy = folder + "\\sleeper copy.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(sleeper.c_str(), copy.c_str(), FALSE));
    Variant copyPath, args;
    SetText(copyPath, copy);
    // Far beyond the 299 bytes of a fixed conversion buffer: nothing may be cut.
    std::string padding;
    for (int i = 0; i < 60; ++i) padding += " word" + std::to_string(i);
    SetText(args, "--report " + reports.path() + padding);

    DWORD pid = 0;
    HRESULT result = StartApplication(copyPath.get()->bstrVal, args.get(), nullptr, nullptr, &pid);
    SleeperReport report;
    if (result == S_OK) report = ReportOf(pid);
    KillProcessesNamed("sleeper copy.exe");
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());

    ASSERT_EQ(result, S_OK);
    ASSERT_EQ(report.pid, pid);
    EXPECT_EQ(report.commandLine, "\"" + copy + "\" --report " + reports.path() + padding);
    EXPECT_GT(report.commandLine.size(), 400u);
}

TEST(ProgramCommandLineTest, APathWithABlankOrTabIsQuotedAndAnyOtherIsKeptAsItIs) {
    const struct {
        const char* path;
        const char* arguments;
        const char* commandLine;
    } cases[] = {
        {"C:\\x\\y.exe", "-a b", "C:\\x\\y.exe -a b"},
        {"C:\\x\\y.exe", "", "C:\\x\\y.exe "},
        {"C:\\Program Files\\App\\app.exe", "-a", "\"C:\\Program Files\\App\\app.exe\" -a"},
        {"C:\\Tab\there\\app.exe", "", "\"C:\\Tab\there\\app.exe\" "},
        {"\"C:\\Program Files\\app.exe\"", "-a", "\"C:\\Program Files\\app.exe\" -a"},
        {"", "-q", " -q"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgramCommandLine(c.path, c.arguments), c.commandLine) << c.path;
}

// --- Starting in a job -------------------------------------------------------------------

TEST_F(StartApplicationTest, AProgramStartedForAJobRunsInItOrRunsOutsideWhenItCannotJoin) {
    UniqueHandle job(CreateJobObjectA(nullptr, nullptr));
    ASSERT_TRUE(job);
    HANDLE queryOnly = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), job.get(), GetCurrentProcess(), &queryOnly, JOB_OBJECT_QUERY,
                                FALSE, 0));
    UniqueHandle cannotAssign(queryOnly);
    const struct {
        const char* what;
        HANDLE job;
        bool inJob;
        DWORD jobError;
    } cases[] = {
        {"no job", nullptr, false, 0},
        {"a job", job.get(), true, 0},
        // As under a job that refuses nesting: the program runs, outside the job.
        {"a job it cannot join", cannotAssign.get(), false, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartedProgram started;
        ASSERT_EQ(StartProgram(sleeper, "--report " + reports.path(), SW_SHOWNORMAL, "", started, c.job), S_OK);
        // Created suspended or not, it runs: far enough to report.
        EXPECT_EQ(ReportOf(started.processId).pid, started.processId);
        BOOL inJob = FALSE;
        ASSERT_TRUE(IsProcessInJob(started.process.get(), job.get(), &inJob));
        EXPECT_EQ(inJob != FALSE, c.inJob);
        EXPECT_EQ(started.jobError, c.jobError);
    }
    EXPECT_TRUE(Events().empty());
}

// --- A start that fails -----------------------------------------------------------------

TEST_F(StartApplicationTest, MissingExecutableReportsTheSystemTextToCallerAndEventLog) {
    const std::string missing = BuildPath("no-such-program.exe");
    Variant missingPath, args;
    SetText(missingPath, missing);
    SetText(args, "-x y");

    DWORD pid = 99;
    ASSERT_EQ(StartApplication(missingPath.get()->bstrVal, args.get(), nullptr, nullptr, &pid), E_FAIL);
    EXPECT_EQ(pid, 99u);

    const std::string expected = "Unable to start application: " + missing + " -x y" +
                                 "\nDetailed error info: \n" + SystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
    ErrorInfoSeen info = TakeErrorInfo();
    EXPECT_TRUE(info.present);
    EXPECT_EQ(info.description, expected);
    EXPECT_TRUE(IsEqualGUID(info.interfaceId, kIidILaunch));

    std::vector<RecordedEvent> logged = Events();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].id, kPlainTextEventId);
    EXPECT_EQ(logged[0].text, expected);
}

TEST_F(StartApplicationTest, FailureMessagesAreHeldWhole) {
    // An empty path passes the null check and fails at the system; a long argument text stays
    // whole in the message (no 259-character cut).
    Variant emptyPath, args;
    SetText(emptyPath, "");
    std::string longArgs(600, 'a');
    SetText(args, longArgs);
    DWORD pid = 0;
    ASSERT_EQ(StartApplication(emptyPath.get()->bstrVal, args.get(), nullptr, nullptr, &pid), E_FAIL);
    ErrorInfoSeen info = TakeErrorInfo();
    const std::string start = "Unable to start application:  " + longArgs + "\nDetailed error info: ";
    EXPECT_EQ(info.description.substr(0, start.size()), start);

    // A start directory that does not exist fails the start too.
    Variant dir;
    SetText(dir, BuildPath("reports\\no such directory"));
    ASSERT_EQ(StartApplication(path.get()->bstrVal, nullptr, nullptr, dir.get(), &pid), E_FAIL);
    info = TakeErrorInfo();
    EXPECT_EQ(info.description.rfind("Unable to start application: " + sleeper + " \nDetailed error info: ", 0), 0u)
        << info.description;
    EXPECT_EQ(Events().size(), 2u);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());
}

}  // namespace

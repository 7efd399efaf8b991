// One configured application: the values of its subkey of the Modules key as one record, one
// table that says how each value is stored, and the reader, the writer and the checks built on
// that table. Everything that reads or writes an application goes through here, so that a new
// value is a row of the table, a member of the record and the code that acts on it.
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

// REG_DWORD values of supervision in an application's key, read with the record.
inline constexpr char kRestartOnExitValue[] = "RestartOnExit";
inline constexpr char kRestartDelayValue[] = "RestartDelay";
inline constexpr DWORD kDefaultRestartDelayMs = 1000;
inline constexpr char kRestartLimitValue[] = "RestartLimit";
inline constexpr char kRestartWindowValue[] = "RestartWindow";
inline constexpr char kStopServiceOnGiveUpValue[] = "StopServiceOnGiveUp";
inline constexpr char kSuccessExitCodesValue[] = "SuccessExitCodes";
// REG_SZ or REG_EXPAND_SZ paths of the files that receive a program's standard output and
// error (absent: the program keeps its console); one path for both gives one file.
inline constexpr char kStdoutPathValue[] = "StdoutPath";
inline constexpr char kStderrPathValue[] = "StderrPath";
// REG_DWORD values of the rotation of those files while the program runs (0: no rotation).
inline constexpr char kLogRotateBytesValue[] = "LogRotateBytes";
inline constexpr char kLogRotateSecondsValue[] = "LogRotateSeconds";
inline constexpr char kLogRotateKeepValue[] = "LogRotateKeep";
inline constexpr DWORD kDefaultLogRotateKeep = 10;
// REG_DWORD: 1 begins every line of the logs with its UTC time of arrival.
inline constexpr char kLogTimestampsValue[] = "LogTimestamps";

// The name the Manage Applications dialog gives its "new application" entry; never a name.
inline constexpr char kNewApplicationEntry[] = "{New}";

// The method that is called on each server of an ActiveX application once it is created, and
// its parameters. Types hold the stored type names ("VT_VARIANT"), empty for none.
struct ApplicationMethod {
    std::wstring methodName;
    std::wstring methodReturnType;
    std::wstring paramOne;
    std::wstring paramOneType;
    std::wstring paramTwo;
    std::wstring paramTwoType;
    std::wstring paramThree;
    std::wstring paramThreeType;
    std::wstring paramFour;
    std::wstring paramFourType;
};

// The parameters in call order, each value beside its type.
struct MethodParameter {
    std::wstring ApplicationMethod::*value;
    std::wstring ApplicationMethod::*type;
};
inline constexpr MethodParameter kMethodParameters[] = {
    {&ApplicationMethod::paramOne, &ApplicationMethod::paramOneType},
    {&ApplicationMethod::paramTwo, &ApplicationMethod::paramTwoType},
    {&ApplicationMethod::paramThree, &ApplicationMethod::paramThreeType},
    {&ApplicationMethod::paramFour, &ApplicationMethod::paramFourType},
};

// Numbers are held as the COM properties take them; the registry holds their bits as REG_DWORD.
struct Application : ApplicationMethod {
    std::wstring name;  // the subkey's name
    std::wstring exePath;
    std::wstring cmdLineArgs;
    std::wstring startDir;
    std::wstring progId;  // not empty: an ActiveX application, whose ExePath is never started
    LONG attrib = 0;      // the show value of a started program
    LONG instances = 0;
    LONG restartOnExit = 0;  // 1: a program that ends by itself is started again
    LONG restartDelay = 0;   // milliseconds before it is
    LONG restartLimit = 0;   // more restarts than this within restartWindow give it up; 0: no limit
    LONG restartWindow = 0;  // milliseconds; 0: since the instance was first started
    LONG stopServiceOnGiveUp = 0;  // 1: a program given up stops the service
    std::wstring successExitCodes; // "0,3": exits with these codes are not followed by a restart
    std::wstring stdoutPath;  // empty: standard output is not captured
    std::wstring stderrPath;  // empty: standard error is not captured
    LONG logRotateBytes = 0;    // a log is rotated before a write takes it past this size
    LONG logRotateSeconds = 0;  // a log older than this is rotated at its next write
    LONG logRotateKeep = 0;     // rotated files kept of one log (0: all)
    LONG logTimestamps = 0;     // 1: each line of a log begins with its time of arrival

    bool IsActiveX() const { return !progId.empty(); }
};

// How one value is stored, read and written.
struct ApplicationValue {
    enum Use : unsigned {
        kWritten = 1,     // written by WriteApplication
        kActiveXOnly = 2, // written, and reported when malformed, only for an ActiveX application
        kReported = 4,    // a malformed value is reported when the reader is asked to
        kKeyName = 8,     // read back as the subkey's name, not from the value
    };
    const char* name;  // the registry value's name, also the property's
    DWORD type;        // REG_SZ (read from REG_SZ or REG_EXPAND_SZ) or REG_DWORD
    std::wstring Application::*text;  // REG_SZ
    LONG Application::*number;        // REG_DWORD
    DWORD fallback;                   // a number that is missing or malformed
    LONG lowest;                      // a number is written as at least this
    std::size_t maxText;              // longest text written, in ANSI characters
    unsigned use;
    std::wstring Application::*typeOf;  // a type is written only beside a non-empty value
};

// Every value of an application, in the order in which they are written and reported.
std::span<const ApplicationValue> ApplicationValues();

// Reads application name's subkey. A number is taken only from a REG_DWORD of 4 bytes and a text
// only from REG_SZ or REG_EXPAND_SZ of at most 259 characters; anything else, like a subkey that
// cannot be opened, counts as missing and leaves the value's default. With reportFaults (the
// launch pass, once per pass) each such value is reported to the event log, the method values
// only for an ActiveX application.
Application ReadApplication(const ServiceKeys& keys, const std::string& name, bool reportFaults = false);

// Writes the record as the subkey named after it ("Unknown" for an empty name), overwriting an
// application of that name; values the table does not write are left as they are. A number is
// written as at least its lowest, a type only beside a non-empty value and the method values
// only for an ActiveX application. False with problem set when a text exceeds its limit (nothing
// is written) or the registry refuses the key or a value.
[[nodiscard]] bool WriteApplication(const ServiceKeys& keys, const Application& record, std::string& problem);

// What is wrong with a record before it is saved, in the order in which it is checked.
enum class ApplicationProblem {
    NoName,              // DispName
    ReservedName,        // DispName is kNewApplicationEntry
    NoPathOrProgId,      // ExePath
    NoInstances,         // Instances: none
    ManyInstances,       // Instances: more than kMaxUsualInstances (a question)
    NoMethod,            // MethodName of an ActiveX application
    UnregisteredProgId,  // ProgId (a question)
    UnopenablePath,      // ExePath of a standard application (a question)
    BadExitCodes,        // SuccessExitCodes is not a list of numbers
};
struct ApplicationFinding {
    const char* field;  // the value it concerns
    ApplicationProblem problem;
    bool isQuestion;  // saved only when confirmed; else the record is refused
};
inline constexpr DWORD kMaxUsualInstances = 10;
std::vector<ApplicationFinding> CheckApplication(const Application& record);

// The exit codes of a list such as "0, 3, 0xC0000005" (decimal or 0x hexadecimal, separated by
// commas); false, with codes unchanged, when the text is not such a list. An empty text is an
// empty list.
bool ParseExitCodes(const std::wstring& text, std::vector<DWORD>& codes);

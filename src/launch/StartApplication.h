// Starting one instance of a standard program: the first operation of ILaunch, and the one the
// launch pass calls for every instance of a program.
#pragma once
#include "base/Owners.h"

#include <windows.h>
#include <oaidl.h>
#include <string>

// The three argument messages, as callers find them in the error-info object.
inline constexpr char kCmdLineArgsMessage[] = "Optional argument strCmdLineArgs must be a string";
inline constexpr char kShowAttribMessage[] = "Optional argument lngShowAttrib must be a positive integer";
inline constexpr char kWorkDirMessage[] = "Optional argument strWorkDir must be a string";
// Start of the message of a failed start: the path, a space and the arguments follow.
inline constexpr char kStartFailedMessage[] = "Unable to start application: ";

// A program just started: the handle that created it (opened with every access) and its id.
struct StartedProgram {
    UniqueHandle process;
    DWORD processId = 0;
    // Why the program could not join the job it was started for (0: it joined, or there was
    // none). It runs all the same.
    DWORD jobError = 0;
    unsigned instance = 1;  // which instance of its application (1 the first), for its log's name
};
struct ProgramStreams;
class ProgramOutput;

// The command line of a program: its path (in double quotes when it holds a blank or a tab and
// is not quoted yet), one space (always, even without arguments), then the arguments.
std::string ProgramCommandLine(const std::string& path, const std::string& arguments);

// Starts path with its command line (ProgramCommandLine) in a new console, shown by show (0
// hidden), in startDirectory (empty: the caller's). With a job, the program is created
// suspended, put into the job and then resumed, so that every process it starts belongs to the
// job too. With streams, the program is started with those standard handles and inherits them
// and nothing else. On failure the message is reported to the event log and the thread's error info
// (the Launch class, ILaunch) and E_FAIL is returned.
[[nodiscard]] HRESULT StartProgram(const std::string& path, const std::string& arguments, LONG show,
                                   const std::string& startDirectory, StartedProgram& started,
                                   HANDLE job = nullptr, const ProgramStreams* streams = nullptr);

struct Application;
// The same for one instance of a standard application: its ExePath, CmdLineArgs, Attrib and
// StartDir. With output, the standard output and error go to the application's log files when
// it has any (ProgramOutput::Prepare), those of instance (1 the first).
[[nodiscard]] HRESULT StartProgram(const Application& record, StartedProgram& started, HANDLE job = nullptr,
                                   ProgramOutput* output = nullptr, unsigned instance = 1);

// Starts strPath with its command line (ProgramCommandLine) in a new console. The optional arguments
// may be omitted (a null pointer, or VT_ERROR holding DISP_E_PARAMNOTFOUND): no arguments,
// SW_SHOWNORMAL, the caller's current directory. The show value is a VT_I4 of 0 or above (0
// starts the program hidden). Returns S_OK with the new process's id (its handles are
// closed), E_POINTER for a null path or id pointer, E_INVALIDARG with the message of the first
// wrong argument in the thread's error info, or E_FAIL when the process cannot be created (the
// message is in the error info and the event log).
[[nodiscard]] HRESULT StartApplication(BSTR strPath, const VARIANT* strCmdLineArgs, const VARIANT* lngShowAttrib,
                                       const VARIANT* strWorkDir, DWORD* lngProcessId);

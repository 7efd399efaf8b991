#include "launch/StartApplication.h"

#include "base/Conversions.h"
#include "base/EventLog.h"
#include "base/ErrorResult.h"
#include "base/Owners.h"
#include "base/ErrorReporting.h"
#include "config/Application.h"
#include "launch/ProgramOutput.h"
#include "Guids.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string ToAnsiText(BSTR text) { return ToAnsi(std::wstring_view(text, text ? SysStringLen(text) : 0)); }

// How automation callers pass an optional argument they leave out; a null pointer counts too.
bool IsOmitted(const VARIANT* argument) {
    return !argument || (argument->vt == VT_ERROR && argument->scode == DISP_E_PARAMNOTFOUND);
}

HRESULT RefuseArgument(const char* message) {
    // The caller learns the reason from the error info; the result is E_INVALIDARG either way.
    (void)ReportComError(kClsidLaunch, message, 0, nullptr, kIidILaunch, 0, nullptr);
    return E_INVALIDARG;
}

}  // namespace

HRESULT StartApplication(BSTR strPath, const VARIANT* strCmdLineArgs, const VARIANT* lngShowAttrib,
                         const VARIANT* strWorkDir, DWORD* lngProcessId) {
    if (!strPath || !lngProcessId) return E_POINTER;

    std::string arguments;
    if (!IsOmitted(strCmdLineArgs)) {
        if (strCmdLineArgs->vt != VT_BSTR) return RefuseArgument(kCmdLineArgsMessage);
        arguments = ToAnsiText(strCmdLineArgs->bstrVal);
    }

    // 0 is the "Hidden" choice of the configuration and starts the program with SW_HIDE.
    LONG show = SW_SHOWNORMAL;
    if (!IsOmitted(lngShowAttrib)) {
        if (lngShowAttrib->vt != VT_I4 || lngShowAttrib->lVal < 0) return RefuseArgument(kShowAttribMessage);
        show = lngShowAttrib->lVal;
    }

    std::string startDirectory;
    if (!IsOmitted(strWorkDir)) {
        if (strWorkDir->vt != VT_BSTR) return RefuseArgument(kWorkDirMessage);
        startDirectory = ToAnsiText(strWorkDir->bstrVal);
    }

    StartedProgram started;
    RETURN_IF_FAILED(StartProgram(ToAnsiText(strPath), arguments, show, startDirectory, started));
    // The handles are closed: the caller learns only the id.
    *lngProcessId = started.processId;
    return S_OK;
}

std::string ProgramCommandLine(const std::string& path, const std::string& arguments) {
    // A path with a blank or a tab is quoted, so that the program's first argument is the
    // whole path; one that is quoted already is left as it is.
    const bool quote = path.find_first_of(" \t") != std::string::npos && path.front() != '"';
    return (quote ? "\"" + path + "\"" : path) + " " + arguments;
}

HRESULT StartProgram(const std::string& path, const std::string& arguments, LONG show,
                     const std::string& startDirectory, StartedProgram& started, HANDLE job,
                     const ProgramStreams* streams) {
    std::string commandLine = ProgramCommandLine(path, arguments);
    auto fail = [&] {
        // The system's text first, while the last error is still that of the failed call.
        const std::string detail = GetSystemErrorText("");
        const std::string message = kStartFailedMessage + path + " " + arguments + "\nDetailed error info: " + detail;
        LogEventText(message);
        (void)ReportComError(kClsidLaunch, message.c_str(), 0, nullptr, kIidILaunch, 0, nullptr);
        return E_FAIL;
    };

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = static_cast<WORD>(show & 0xFFFF);
    DWORD flags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | (job ? CREATE_SUSPENDED : 0);
    // A program given standard handles inherits exactly those: a pipe end of another program
    // that it inherited too would keep that pipe open for as long as it runs.
    std::vector<HANDLE> inherited;
    std::vector<char> attributeStorage;
    bool listed = false;
    if (streams) {
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = streams->input.get();
        startup.StartupInfo.hStdOutput = streams->output.get();
        startup.StartupInfo.hStdError = streams->error.get();
        inherited = streams->Distinct();
        SIZE_T size = 0;
        (void)InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributeStorage.resize(size);
        auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
        if (size > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
            listed = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                               inherited.size() * sizeof(HANDLE), nullptr, nullptr);
            if (listed) {
                startup.StartupInfo.cb = sizeof startup;
                startup.lpAttributeList = attributes;
                flags |= EXTENDED_STARTUPINFO_PRESENT;
            } else {
                DeleteProcThreadAttributeList(attributes);
            }
        }
    }
    PROCESS_INFORMATION created{};
    const BOOL createdOk = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, streams ? TRUE : FALSE,
                                          flags, nullptr, startDirectory.empty() ? nullptr : startDirectory.c_str(),
                                          &startup.StartupInfo, &created);
    const DWORD createError = GetLastError();
    if (listed) DeleteProcThreadAttributeList(startup.lpAttributeList);
    SetLastError(createError);
    if (!createdOk) return fail();
    UniqueHandle thread(created.hThread);
    UniqueHandle process(created.hProcess);
    if (job) {
        // Not one instruction of the program runs before it is in the job, so no process it
        // starts can escape it. A program that cannot join runs outside it.
        if (!AssignProcessToJobObject(job, process.get())) started.jobError = GetLastError();
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            const HRESULT result = fail();
            (void)TerminateProcess(process.get(), 0);
            return result;
        }
    }
    started.process = std::move(process);
    started.processId = created.dwProcessId;
    return S_OK;
}

HRESULT StartProgram(const Application& record, StartedProgram& started, HANDLE job, ProgramOutput* output,
                     unsigned instance) {
    started.instance = instance;
    // Held until the program's ends of its pipes are closed (streams goes first), so that no
    // program started meanwhile can inherit them, even where the handle list is not honoured.
    std::unique_lock<std::mutex> inheritance(ProgramOutput::InheritanceLock(), std::defer_lock);
    ProgramStreams streams;
    if (output) {
        inheritance.lock();
        if (!output->Prepare(record, instance, streams)) inheritance.unlock();
    }
    return StartProgram(ToAnsi(record.exePath), ToAnsi(record.cmdLineArgs), record.attrib, ToAnsi(record.startDir),
                        started, job, inheritance.owns_lock() ? &streams : nullptr);
}

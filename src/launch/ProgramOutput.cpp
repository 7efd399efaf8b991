#include "launch/ProgramOutput.h"

#include "base/Conversions.h"
#include "base/ErrorReporting.h"
#include "base/EventLog.h"
#include "base/Waiting.h"
#include "config/Application.h"
#include "messages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// What one read takes from a pipe, and what the pipe itself holds: together the most that a
// program has written and its log has not received yet.
constexpr DWORD kStreamBufferBytes = 16 * 1024;
constexpr DWORD kPipeBytes = 16 * 1024;
// How many reads that are done at once one stream makes before the others have their turn.
constexpr int kReadsPerTurn = 8;
// A log that failed is not tried again sooner than this.
constexpr ULONGLONG kRetryMs = 1000;
// How long a log is written through one handle before it is opened again.
constexpr ULONGLONG kReopenMs = 250;

ULONGLONG FileTimeNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// How much of data (at most room bytes) ends at a line end; 0 when no line ends there.
DWORD UpToLastLineEnd(const char* data, DWORD room) {
    for (DWORD length = room; length > 0; --length)
        if (data[length - 1] == '\n') return length;
    return 0;
}

UniqueHandle InheritableNullDevice() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return UniqueHandle(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

UniqueHandle InheritableCopy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return UniqueHandle();
    return UniqueHandle(copy);
}

// Creates the folders above path that do not exist yet; a failure shows when the file is opened.
void CreateFolders(const std::string& path) {
    for (std::size_t slash = path.find_first_of("\\/", 3); slash != std::string::npos;
         slash = path.find_first_of("\\/", slash + 1))
        (void)CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

std::string SystemReason(DWORD error) {
    SetLastError(error);
    std::string text = GetSystemErrorText("");
    text.erase(0, text.find_first_not_of("\r\n "));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "error " + std::to_string(error) + "." : text;
}

}  // namespace

// Where the extension of path begins: its last dot after the folder (not a leading dot), else its end.
std::size_t ExtensionAt(const std::string& path) {
    const std::size_t name = path.find_last_of("\\/:");
    const std::size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (name == std::string::npos || dot > name + 1) ? dot : path.size();
}

std::string InstanceLogPath(const std::string& path, unsigned instance) {
    if (instance < 2) return path;
    const std::size_t at = ExtensionAt(path);
    return path.substr(0, at) + "-" + std::to_string(instance) + path.substr(at);
}

bool IsRotatedName(const std::string& logName, const std::string& name, std::string& order) {
    const std::size_t at = ExtensionAt(logName);
    const std::string stem = logName.substr(0, at) + "-", extension = logName.substr(at);
    if (name.size() < stem.size() + 16 + extension.size() || _strnicmp(name.c_str(), stem.c_str(), stem.size()) != 0 ||
        _stricmp(name.c_str() + name.size() - extension.size(), extension.c_str()) != 0)
        return false;
    const std::string middle = name.substr(stem.size(), name.size() - stem.size() - extension.size());
    for (std::size_t i = 0; i < middle.size(); ++i) {
        const bool digit = middle[i] >= '0' && middle[i] <= '9';
        const bool fits = i == 8 ? middle[i] == 'T' : i == 15 ? middle[i] == 'Z' : i == 16 ? middle[i] == '-' : digit;
        if (!fits || (i == 16 && middle.size() == 17)) return false;
    }
    // The time, then the counter (none is 1) as a number of fixed width.
    char counter[16];
    std::snprintf(counter, sizeof counter, "%010lu",
                  middle.size() > 16 ? std::strtoul(middle.c_str() + 17, nullptr, 10) : 1ul);
    order = middle.substr(0, 15) + counter;
    return true;
}

std::vector<HANDLE> ProgramStreams::Distinct() const {
    std::vector<HANDLE> handles;
    for (HANDLE handle : {input.get(), output.get(), error.get()})
        if (handle && std::find(handles.begin(), handles.end(), handle) == handles.end()) handles.push_back(handle);
    return handles;
}

ProgramOutput::~ProgramOutput() {
    if (!port_) return;
    (void)PostQueuedCompletionStatus(port_.get(), 0, 0, nullptr);
    (void)pump_.Join(INFINITE);
    // A read still pending writes into its stream's buffer until it is cancelled.
    for (const auto& stream : streams_) {
        if (!stream->reading) continue;
        DWORD bytes = 0;
        (void)CancelIoEx(stream->pipe.get(), &stream->overlapped);
        (void)GetOverlappedResult(stream->pipe.get(), &stream->overlapped, &bytes, TRUE);
    }
}

std::mutex& ProgramOutput::InheritanceLock() {
    static std::mutex lock;
    return lock;
}

bool ProgramOutput::Prepare(const Application& record, unsigned instance, ProgramStreams& streams) {
    const std::string outputPath = ToAnsi(record.stdoutPath);
    const std::string errorPath = ToAnsi(record.stderrPath);
    if (outputPath.empty() && errorPath.empty()) return false;
    // Without its pump the program keeps its console, as without the values.
    if (!StartPump()) return false;

    const std::string application = ToAnsi(record.name);
    const auto logAt = [&](const std::string& path) {
        auto log = std::make_shared<LogFile>();
        log->application = application;
        log->path = InstanceLogPath(path, instance);
        log->rotateBytes = static_cast<DWORD>(record.logRotateBytes);
        log->rotateSeconds = static_cast<DWORD>(record.logRotateSeconds);
        log->keep = static_cast<DWORD>(record.logRotateKeep);
        log->timestamps = record.logTimestamps == 1;
        (void)Open(*log);  // opened now, so that a path that cannot be written is reported at the launch
        return log;
    };
    if (!outputPath.empty()) {
        const auto log = logAt(outputPath);
        (void)AddStream(log, streams.output);
        // One pipe for both keeps the order in which the program wrote them.
        if (lstrcmpiA(outputPath.c_str(), errorPath.c_str()) == 0 && streams.output)
            streams.error = InheritableCopy(streams.output.get());
    }
    if (!errorPath.empty() && !streams.error) (void)AddStream(logAt(errorPath), streams.error);
    streams.input = InheritableNullDevice();
    if (!streams.output) streams.output = InheritableNullDevice();
    if (!streams.error) streams.error = InheritableNullDevice();
    return true;
}

bool ProgramOutput::StartPump() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (port_) return true;
    port_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!port_) return false;
    if (pump_.Start([this](HANDLE cancel) { Pump(cancel); })) return true;
    port_.reset();
    return false;
}

bool ProgramOutput::AddStream(const std::shared_ptr<LogFile>& log, UniqueHandle& programEnd) {
    auto stream = std::make_unique<Stream>();
    const ULONG_PTR key = reinterpret_cast<ULONG_PTR>(stream.get());
    stream->log = log;
    stream->buffer = std::make_unique<char[]>(kStreamBufferBytes);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        char name[96];
        std::snprintf(name, sizeof name, "\\\\.\\pipe\\corvane-output-%lu-%u", GetCurrentProcessId(), ++pipeCount_);
        // The service's end reads overlapped; the program's end is an ordinary handle that it
        // inherits. One instance only, and the program's end connects at once: nobody else can.
        stream->pipe.reset(CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBytes, kPipeBytes,
                                            0, nullptr));
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (stream->pipe)
            programEnd.reset(CreateFileA(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inherit, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (programEnd && CreateIoCompletionPort(stream->pipe.get(), port_.get(), key, 0) == port_.get()) {
            // A read that is done at once is then handled at once, without a trip through the port.
            stream->skipsPort = SetFileCompletionNotificationModes(stream->pipe.get(), FILE_SKIP_COMPLETION_PORT_ON_SUCCESS);
            streams_.push_back(std::move(stream));
        }
        else
            programEnd.reset();
    }
    if (!programEnd) {
        // Without a pipe the program's stream goes to the null device.
        ReportFailure(*log, GetLastError());
        return false;
    }
    // Every read is made by the pump: it is told to begin.
    (void)PostQueuedCompletionStatus(port_.get(), 0, key, nullptr);
    return true;
}

void ProgramOutput::Pump(HANDLE) {
    // Many completions are taken at once: with many programs writing, one call serves them all.
    OVERLAPPED_ENTRY entries[64];
    for (;;) {
        ULONG count = 0;
        if (!GetQueuedCompletionStatusEx(port_.get(), entries, ARRAYSIZE(entries), &count, INFINITE, FALSE)) return;
        for (ULONG i = 0; i < count; ++i) {
            const OVERLAPPED_ENTRY& entry = entries[i];
            if (entry.lpCompletionKey == 0) return;  // told to end
            Stream& stream = *reinterpret_cast<Stream*>(entry.lpCompletionKey);
            if (entry.lpOverlapped) {
                stream.reading = false;
                // A read fails once the pipe holds nothing more and every writer has gone.
                if (static_cast<LONG>(entry.Internal) < 0) {  // the read's status, as the system gives it
                    End(stream);
                    continue;
                }
                if (entry.dwNumberOfBytesTransferred > 0)
                    Write(*stream.log, stream.buffer.get(), entry.dwNumberOfBytesTransferred);
            }
            Read(stream);
        }
    }
}

void ProgramOutput::Read(Stream& stream) {
    // What the pipe already holds is taken at once, a few reads at most before the other
    // streams have their turn (the stream is then queued behind them).
    for (int turn = 0; turn < kReadsPerTurn; ++turn) {
        stream.overlapped = {};
        DWORD bytes = 0;
        if (!ReadFile(stream.pipe.get(), stream.buffer.get(), kStreamBufferBytes, &bytes, &stream.overlapped)) {
            if (GetLastError() == ERROR_IO_PENDING)
                stream.reading = true;  // its completion comes through the port
            else
                End(stream);
            return;
        }
        // Done at once: its completion comes through the port too, unless the pipe skips it.
        if (!stream.skipsPort) {
            stream.reading = true;
            return;
        }
        if (bytes > 0) Write(*stream.log, stream.buffer.get(), bytes);
    }
    (void)PostQueuedCompletionStatus(port_.get(), 0, reinterpret_cast<ULONG_PTR>(&stream), nullptr);
}

void ProgramOutput::End(Stream& stream) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        streams_.remove_if([&stream](const auto& entry) { return entry.get() == &stream; });
    }
    ended_.notify_all();
}

void ProgramOutput::Write(LogFile& log, const char* data, DWORD size) {
    if (log.timestamps) {
        Stamp(log, data, size);
        data = stamped_.data();
        size = static_cast<DWORD>(stamped_.size());
    }
    // Reopened now and then, so that a log deleted or renamed meanwhile is begun again at its
    // path: a deletion waits for the last handle to close, and the path may name the same file
    // until it has (so nothing short of closing tells that it was deleted).
    if (log.file && GetTickCount64() >= log.checkAt) log.file.reset();
    if (!log.file && !Open(log)) return;  // dropped until the file can be written again
    while (size > 0) {
        DWORD part = size;
        if (log.rotateBytes != 0 && log.size + size > log.rotateBytes) {
            // What fits, up to its last line end; a file just begun takes a longer line cut.
            const ULONGLONG room = log.rotateBytes > log.size ? log.rotateBytes - log.size : 0;
            part = UpToLastLineEnd(data, static_cast<DWORD>(std::min<ULONGLONG>(room, size)));
            if (part == 0 && log.size == 0) part = static_cast<DWORD>(std::min<ULONGLONG>(room, size));
        }
        const bool old = log.rotateSeconds != 0 && FileTimeNow() - log.begunAt >= log.rotateSeconds * 10000000ull;
        if (log.size > 0 && (part == 0 || old)) {
            Rotate(log);
            if (!log.file && !Open(log)) return;
            continue;
        }
        DWORD written = 0;
        if (!WriteFile(log.file.get(), data, part, &written, nullptr)) {
            ReportFailure(log, GetLastError());
            log.file.reset();
            log.retryAt = GetTickCount64() + kRetryMs;
            return;
        }
        data += written;
        size -= written;
        log.size += written;
    }
}

bool ProgramOutput::Open(LogFile& log) {
    if (GetTickCount64() < log.retryAt) return false;
    CreateFolders(log.path);
    // Appending, and shared: others may read, write, rename or delete the log meanwhile.
    log.file.reset(CreateFileA(log.path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log.file) {
        log.checkAt = GetTickCount64() + kReopenMs;
        LARGE_INTEGER bytes{};
        log.size = GetFileSizeEx(log.file.get(), &bytes) ? static_cast<ULONGLONG>(bytes.QuadPart) : 0;
        if (log.begunAt == 0 || log.size == 0) {
            // Its age counts from when it was created, also when an earlier run created it.
            FILETIME created{};
            const ULONGLONG now = FileTimeNow();
            log.begunAt = GetFileTime(log.file.get(), &created, nullptr, nullptr) && log.size > 0
                              ? std::min(now, (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime)
                              : now;
        }
        return true;
    }
    ReportFailure(log, GetLastError());
    log.retryAt = GetTickCount64() + kRetryMs;
    return false;
}

void ProgramOutput::Stamp(LogFile& log, const char* data, DWORD size) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char stamp[32];
    const int length = std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ ", now.wYear, now.wMonth,
                                     now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    stamped_.clear();
    for (const char* c = data; c != data + size; ++c) {
        if (log.lineBytes >= kStreamBufferBytes && *c != '\n') {
            stamped_ += "\r\n";
            log.lineBytes = 0;
        }
        if (log.lineBytes == 0) stamped_.append(stamp, static_cast<std::size_t>(length));
        stamped_ += *c;
        log.lineBytes = *c == '\n' ? 0 : log.lineBytes + 1;
    }
}

void ProgramOutput::Rotate(LogFile& log) {
    log.file.reset();
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "-%04u%02u%02uT%02u%02u%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    const std::size_t at = ExtensionAt(log.path);
    bool renamed = false;
    DWORD error = 0;
    // The counter goes on within one second even when an earlier file of it was deleted, so
    // that names sort in the order of rotation.
    unsigned counter = log.lastStamp == stamp ? log.lastCounter + 1 : 1;
    for (; counter < 1000 && !renamed; ++counter) {
        const std::string name = log.path.substr(0, at) + stamp + (counter > 1 ? "-" + std::to_string(counter) : "") +
                                 log.path.substr(at);
        renamed = MoveFileExA(log.path.c_str(), name.c_str(), 0);
        error = GetLastError();
        if (!renamed && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    log.lastStamp = stamp;
    log.lastCounter = counter - 1;
    // A log deleted meanwhile has nothing to rotate; one that cannot be renamed grows on.
    log.size = 0;
    log.begunAt = FileTimeNow();
    if (!renamed) {
        if (error != ERROR_FILE_NOT_FOUND) ReportFailure(log, error);
        return;
    }
    if (log.keep == 0) return;
    // The oldest rotated files of this log beyond the number kept go.
    const std::size_t slash = log.path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : log.path.substr(0, slash + 1);
    const std::string logName = log.path.substr(folder.size());
    std::map<std::string, std::string> rotated;  // by age
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((folder + log.path.substr(folder.size(), at - folder.size()) + "-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string order;
        if (IsRotatedName(logName, found.cFileName, order)) rotated.emplace(order, folder + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (auto file = rotated.begin(); rotated.size() > log.keep; file = rotated.erase(file))
        (void)DeleteFileA(file->second.c_str());
}

void ProgramOutput::ReportFailure(const LogFile& log, DWORD error) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!reported_.insert(log.application).second) return;
    }
    LogEventById(MSG_LOG_NOT_WRITTEN, EVENTLOG_WARNING_TYPE, {log.application, log.path, SystemReason(error)});
}

std::size_t ProgramOutput::Drain(DWORD timeoutMs, const std::function<void()>& tick) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    ULONGLONG nextTick = GetTickCount64() + kWaitTickMs;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (streams_.empty() || now >= deadline) return streams_.size();
        if (now >= nextTick) {
            nextTick = now + kWaitTickMs;
            lock.unlock();
            if (tick) tick();
            lock.lock();
            continue;
        }
        ended_.wait_for(lock, std::chrono::milliseconds(std::min(deadline, nextTick) - now));
    }
}

// The standard output and error of started programs, written to their applications' log files
// (StdoutPath, StderrPath).
//
// A program whose output is captured is started with its standard handles set: input from the
// null device, output and error into pipes whose other ends the service reads. The service's
// ends are overlapped and served by one pump thread through one I/O completion port, whatever
// the number of programs; each stream has one fixed buffer, so a program that writes faster than
// its file takes it is slowed by its full pipe and the service does not grow. What is read is
// written at once, so output reaches the file as soon as the program has written it.
//
// Log files are opened for appending and shared for reading, writing and deletion: a restart
// appends, and an administrator may read, rename or delete a log while it is written (a log
// that is no longer at its path is begun again, at the latest a quarter of a second later). A log that cannot be opened
// or written is reported once per application (a warning naming the file and the system's
// reason); the output is read and dropped meanwhile, and writing resumes when the file can be
// opened again. Nothing of this ever ends or holds up the program.
//
// A log is rotated while the program runs, at a line end where it can: before a write would
// take it past LogRotateBytes, or at the first write once it is older than LogRotateSeconds, it
// is closed and renamed with the UTC time before its extension ("agent-20261210T101500Z.log",
// "-2" and on after the time when two rotations fall in one second), a new file is begun, and
// the oldest rotated files beyond LogRotateKeep (0: all) are deleted. A log that cannot be
// renamed is reported like a failed write and grows on until its next rotation is due.
//
// With LogTimestamps 1 each line begins with its UTC time of arrival ("2026-12-10T10:15:00.123Z ");
// a line longer than a stream's buffer is ended there and goes on in a line of its own.
#pragma once
#include "base/Owners.h"
#include "base/Worker.h"

#include <windows.h>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct Application;

// The path of instance (1 the first) of a log: from the second on, "-<instance>" before the
// extension ("agent.log", "agent-2.log"), so that instances never share a file.
std::string InstanceLogPath(const std::string& path, unsigned instance);
// Whether name (a file name without folder) is a rotated file of the log whose file name is
// logName: its stem, "-", a time as yyyymmddThhmmssZ, an optional "-<n>", its extension. Sets
// order to what sorts the rotated files of one log from oldest to newest.
bool IsRotatedName(const std::string& logName, const std::string& name, std::string& order);

// The standard handles that one program is started with, all inheritable; they are the
// program's, and are closed once it is created.
struct ProgramStreams {
    UniqueHandle input;   // the null device
    UniqueHandle output;  // a pipe, or the null device when only standard error is captured
    UniqueHandle error;   // the same pipe as output when both go to one file
    // The distinct handles, for the list of handles that the program alone inherits.
    std::vector<HANDLE> Distinct() const;
};

class ProgramOutput {
public:
    ProgramOutput() = default;
    ProgramOutput(const ProgramOutput&) = delete;
    ProgramOutput& operator=(const ProgramOutput&) = delete;
    // Ends the pump; output still unread is lost. Programs keep running.
    ~ProgramOutput();

    // For a program of record about to start as instance (1 the first): false when it captures
    // nothing. Else the pipes are made, their service's ends handed to the pump, the log files
    // opened (a failure is reported here, at the launch) and streams set to the program's ends.
    // Hold InheritanceLock() from before this call until the program is created and streams are
    // closed, so that no other program started meanwhile inherits these handles.
    bool Prepare(const Application& record, unsigned instance, ProgramStreams& streams);
    static std::mutex& InheritanceLock();

    // Waits, at most timeoutMs, until every captured stream has ended (its program and every
    // process holding its pipe have ended) and its output is in its file, calling tick about
    // once a second. Returns how many streams were still open.
    std::size_t Drain(DWORD timeoutMs, const std::function<void()>& tick);

private:
    struct LogFile {
        std::string application;
        std::string path;
        UniqueHandle file;
        ULONGLONG retryAt = 0;  // after a failure, the file is not tried again before this
        ULONGLONG checkAt = 0;  // when it is to be opened again
        // Rotation (0: none), and what it looks at: the file's size and when it was begun (in
        // FILETIME units; 0 until the file is first opened).
        ULONGLONG rotateBytes = 0;
        ULONGLONG rotateSeconds = 0;
        DWORD keep = 0;
        ULONGLONG size = 0;
        ULONGLONG begunAt = 0;
        std::string lastStamp;  // of the last rotation, and its counter
        unsigned lastCounter = 0;
        bool timestamps = false;
        std::size_t lineBytes = 0;  // written of the current line (0: at a line's start)
    };
    struct Stream {
        OVERLAPPED overlapped{};  // first, so that a completion's OVERLAPPED is its stream
        UniqueHandle pipe;
        std::shared_ptr<LogFile> log;
        std::unique_ptr<char[]> buffer;
        bool reading = false;  // a read is pending; only the pump touches it
        bool skipsPort = false;  // a read done at once queues no completion
    };

    bool StartPump();
    void Pump(HANDLE cancel);
    void Read(Stream& stream);
    void End(Stream& stream);
    void Write(LogFile& log, const char* data, DWORD size);
    bool Open(LogFile& log);
    void Rotate(LogFile& log);
    void Stamp(LogFile& log, const char* data, DWORD size);
    void ReportFailure(const LogFile& log, DWORD error);
    bool AddStream(const std::shared_ptr<LogFile>& log, UniqueHandle& programEnd);

    UniqueHandle port_;
    Worker pump_;
    std::string stamped_;  // the pump's: what is written of a stream that has its lines stamped

    std::mutex mutex_;  // guards everything below
    std::condition_variable ended_;
    std::list<std::unique_ptr<Stream>> streams_;
    std::set<std::string> reported_;  // applications whose log failure has been reported
    unsigned pipeCount_ = 0;
};

#include "base/EventLog.h"

#include "base/Owners.h"
#include "base/ProgramName.h"

#include <mutex>

namespace {

std::mutex sinkLock;
EventSink sink;

void ReportToEventLog(WORD type, DWORD eventId, const std::string& text) {
    EventSourceHandle source(RegisterEventSourceA(nullptr, ProgramName().c_str()));
    if (!source) return;  // the event is lost; callers never learn of it
    const char* strings[] = {text.c_str()};
    (void)ReportEventA(source.get(), type, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

void Report(DWORD eventId, const std::string& text) {
    EventSink current;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        current = sink;
    }
    if (current)
        current(EVENTLOG_INFORMATION_TYPE, eventId, text);
    else
        ReportToEventLog(EVENTLOG_INFORMATION_TYPE, eventId, text);
}

}  // namespace

void SetEventSink(EventSink newSink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = std::move(newSink);
}

void LogEventText(const std::string& text) { Report(kPlainTextEventId, text); }

void LogEventById(DWORD messageId) {
    // Allocate, ignore inserts, from this module, lines of at most 100 characters (0xB64).
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_FROM_HMODULE | 100;
    LocalMemory<char> formatted;
    DWORD length = FormatMessageA(flags, nullptr, messageId, LANG_USER_DEFAULT,
                                  reinterpret_cast<char*>(formatted.put()), 0, nullptr);
    if (length == 0) {
        LogEventText("Unable to log event by id");
        return;
    }
    Report(messageId, std::string(formatted.get(), length));
}

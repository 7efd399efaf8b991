#include "base/EventLog.h"

#include "base/Owners.h"
#include "base/ProgramName.h"

#include <mutex>

namespace {

std::mutex sinkLock;
EventSink sink;

void ReportToEventLog(WORD type, DWORD eventId, const std::vector<std::string>& strings) {
    EventSourceHandle source(RegisterEventSourceA(nullptr, ProgramName().c_str()));
    if (!source) return;  // the event is lost; callers never learn of it
    std::vector<const char*> pointers;
    for (const std::string& text : strings) pointers.push_back(text.c_str());
    (void)ReportEventA(source.get(), type, 0, eventId, nullptr, static_cast<WORD>(pointers.size()), 0,
                       pointers.data(), nullptr);
}

// text is what the sink receives; strings are the event's insertion strings.
void Report(WORD type, DWORD eventId, const std::string& text, const std::vector<std::string>& strings) {
    EventSink current;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        current = sink;
    }
    if (current)
        current(type, eventId, text);
    else
        ReportToEventLog(type, eventId, strings);
}

void Report(DWORD eventId, const std::string& text) { Report(EVENTLOG_INFORMATION_TYPE, eventId, text, {text}); }

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

void LogEventById(DWORD messageId, WORD type, const std::vector<std::string>& inserts) {
    // The text is formatted here only for the sink and to learn that the message exists: the
    // event log receives the insertion strings and formats the message when it is read.
    std::vector<DWORD_PTR> arguments;
    for (const std::string& text : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                        FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    LocalMemory<char> formatted;
    DWORD length = FormatMessageA(flags, nullptr, messageId, LANG_USER_DEFAULT,
                                  reinterpret_cast<char*>(formatted.put()), 0,
                                  reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0) {
        LogEventText("Unable to log event by id");
        return;
    }
    std::string text(formatted.get(), length);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    Report(type, messageId, text, inserts);
}

// Reports to the Windows Application event log under the service's own source. The life
// events and the plain texts are information events; a message with insertion strings carries
// the type its caller gives.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

inline constexpr DWORD kPlainTextEventId = 1000;

// Reports a plain text under event id 1000.
void LogEventText(const std::string& text);
// Reports a message of the executable's message table by its id.
void LogEventById(DWORD messageId);
// Reports a message of the message table as an event of type (EVENTLOG_WARNING_TYPE, ...)
// whose insertion strings (%1, %2, ... of the message) are inserts.
void LogEventById(DWORD messageId, WORD type, const std::vector<std::string>& inserts);

// Everything reported goes through one sink. By default it is the event log; tests may put a
// recorder in its place (an empty function restores the event log). The recorder receives the
// event's text as a reader of the event sees it, insertion strings in place.
using EventSink = std::function<void(WORD type, DWORD eventId, const std::string& text)>;
void SetEventSink(EventSink sink);

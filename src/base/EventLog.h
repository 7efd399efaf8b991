// Reports to the Windows Application event log under the service's own source. Every event
// is an information event.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

inline constexpr DWORD kPlainTextEventId = 1000;

// Reports a plain text under event id 1000.
void LogEventText(const std::string& text);
// Reports a message of the executable's message table by its id.
void LogEventById(DWORD messageId);

// Everything reported goes through one sink. By default it is the event log; tests may put a
// recorder in its place (an empty function restores the event log).
using EventSink = std::function<void(WORD type, DWORD eventId, const std::string& text)>;
void SetEventSink(EventSink sink);

// The event-log reports: the life events from the message table, and plain texts.
#include "base/EventLog.h"
#include "messages.h"
#include "support/EventRecorder.h"

#include <gtest/gtest.h>

namespace {

using EventLogTest = EventRecordingTest;

// The message table holds each text with its line break; the report formats it to lines of
// at most 100 characters, which turns the line break into a blank.
std::string TableText(DWORD id) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_HMODULE,
                                  nullptr, id, LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text ? text : "", length);
    LocalFree(text);
    return result;
}

TEST_F(EventLogTest, LifeEventsCarryTheMessageTableTexts) {
    EXPECT_EQ(TableText(0x4FFF0001), "Corvane successfully started.\r\n");
    EXPECT_EQ(TableText(0x4FFF0002), "Corvane stopped.\r\n");
    EXPECT_EQ(TableText(0x4FFF0003), "Corvane paused.\r\n");
    EXPECT_EQ(TableText(0x4FFF0004), "Corvane resumed.\r\n");

    LogEventById(MSG_SERVICE_STARTED);
    LogEventById(MSG_SERVICE_STOPPED);
    LogEventById(MSG_SERVICE_PAUSED);
    LogEventById(MSG_SERVICE_RESUMED);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].id, 0x4FFF0001u);
    EXPECT_EQ(events[0].text, "Corvane successfully started. ");
    EXPECT_EQ(events[1].id, 0x4FFF0002u);
    EXPECT_EQ(events[1].text, "Corvane stopped. ");
    EXPECT_EQ(events[2].id, 0x4FFF0003u);
    EXPECT_EQ(events[2].text, "Corvane paused. ");
    EXPECT_EQ(events[3].id, 0x4FFF0004u);
    EXPECT_EQ(events[3].text, "Corvane resumed. ");
    for (const auto& event : events) EXPECT_EQ(event.type, EVENTLOG_INFORMATION_TYPE);
}

TEST_F(EventLogTest, UnknownMessageIdIsReportedAsPlainText) {
    LogEventById(0x4FFF0077);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 1000u);
    EXPECT_EQ(events[0].text, "Unable to log event by id");
    EXPECT_EQ(events[0].type, EVENTLOG_INFORMATION_TYPE);
}

TEST_F(EventLogTest, LongTextsAreReportedWhole) {
    std::string text(700, 'x');
    text += "end";
    LogEventText(text);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 1000u);
    EXPECT_EQ(events[0].text, text);
}

}  // namespace

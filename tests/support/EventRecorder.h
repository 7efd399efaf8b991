// Tests whose program events are recorded in memory instead of reported to the event log.
#pragma once
#include "base/EventLog.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

struct RecordedEvent {
    WORD type;
    DWORD id;
    std::string text;
};

class EventRecordingTest : public testing::Test {
protected:
    void SetUp() override {
        SetEventSink([this](WORD type, DWORD id, const std::string& text) {
            std::lock_guard<std::mutex> guard(eventsLock_);
            events.push_back({type, id, text});
        });
    }
    void TearDown() override { SetEventSink(nullptr); }

    std::vector<RecordedEvent> events;

private:
    std::mutex eventsLock_;
};

#include "config/LiveStatus.h"

#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

constexpr char kInstances[] = "Instances";

std::string InstancesPath(const ServiceKeys& keys) { return keys.status + "\\" + kInstances; }

std::string Text(HKEY key, const char* name) {
    std::string text;
    (void)ReadText(key, name, text);
    return text;
}
void RemoveStatus(const ServiceKeys& keys) {
    const std::size_t split = keys.status.rfind('\\');
    RegistryKey service;
    if (service.Open(HKEY_LOCAL_MACHINE, keys.status.substr(0, split).c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS)
        (void)service.DeleteTree(keys.status.substr(split + 1).c_str());
}

DWORD Number(HKEY key, const char* name) {
    DWORD number = 0;
    (void)ReadDword(key, name, number);
    return number;
}

}  // namespace

const char* InstanceStateName(InstanceState state) {
    switch (state) {
    case InstanceState::Running: return "running";
    case InstanceState::WaitingToRestart: return "waiting to restart";
    case InstanceState::GivenUp: return "given up";
    case InstanceState::Ended: return "ended";
    case InstanceState::Created: return "created";
    }
    return "";
}

std::string UtcText(ULONGLONG laterMs) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart += laterMs * 10000;
    const FILETIME then{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME time;
    FileTimeToSystemTime(&then, &time);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour,
                  time.wMinute, time.wSecond);
    return text;
}

LiveStatus ReadLiveStatus(const ServiceKeys& keys) {
    LiveStatus live;
    RegistryKey status;
    if (status.Open(HKEY_LOCAL_MACHINE, keys.status.c_str(), KEY_READ) != ERROR_SUCCESS) return live;
    live.published = true;
    live.state = Number(status.get(), "State");
    live.processId = Number(status.get(), "ProcessId");
    live.started = Text(status.get(), "Started");
    RegistryKey instances;
    if (instances.Open(status.get(), kInstances, KEY_READ) != ERROR_SUCCESS) return live;
    for (const std::string& slot : SubkeyNames(instances.get())) {
        RegistryKey key;
        if (key.Open(instances.get(), slot.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
        InstanceStatus one;
        one.application = Text(key.get(), "Application");
        one.instance = Number(key.get(), "Instance");
        one.activeX = Text(key.get(), "Kind") == "activex";
        one.processId = Number(key.get(), "ProcessId");
        one.started = Text(key.get(), "Started");
        one.state = Text(key.get(), "State");
        one.restarts = Number(key.get(), "Restarts");
        DWORD code = 0;
        if (ReadDword(key.get(), "LastExitCode", code) == ValueRead::Read) one.lastExitCode = code;
        one.lastExit = Text(key.get(), "LastExit");
        one.nextRestart = Text(key.get(), "NextRestart");
        live.instances.push_back(std::move(one));
    }
    std::sort(live.instances.begin(), live.instances.end(), [](const auto& a, const auto& b) {
        return std::tie(a.application, a.instance) < std::tie(b.application, b.instance);
    });
    return live;
}

void StatusBoard::Open(DWORD processId) {
    std::lock_guard<std::mutex> guard(mutex_);
    instances_.clear();
    open_ = false;
    RemoveStatus(keys_);  // what an earlier run left, when it ended without removing it
    if (!IsSettingOn(keys_, ServiceSetting::PublishStatus)) return;
    RegistryKey status;
    if (status.Create(HKEY_LOCAL_MACHINE, keys_.status.c_str(), KEY_ALL_ACCESS, REG_OPTION_VOLATILE) != ERROR_SUCCESS)
        return;
    (void)SetDwordValue(status.get(), "ProcessId", processId);
    (void)SetTextValue(status.get(), "Started", UtcText());
    open_ = true;
}

void StatusBoard::ServiceState(DWORD state) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return;
    RegistryKey status;
    if (status.Open(HKEY_LOCAL_MACHINE, keys_.status.c_str(), KEY_SET_VALUE) == ERROR_SUCCESS)
        (void)SetDwordValue(status.get(), "State", state);
}

void StatusBoard::Close() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = false;
    instances_.clear();
    RemoveStatus(keys_);
}

bool StatusBoard::IsOpen() {
    std::lock_guard<std::mutex> guard(mutex_);
    return open_;
}

void StatusBoard::Started(const std::string& application, DWORD instance, bool activeX, DWORD processId) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return;
    auto [entry, added] = instances_.try_emplace(Key{application, instance});
    if (added) entry->second.second = static_cast<DWORD>(instances_.size());
    InstanceStatus& status = entry->second.first;
    status = InstanceStatus{};
    status.application = application;
    status.instance = instance;
    status.activeX = activeX;
    status.processId = processId;
    status.started = UtcText();
    status.state = InstanceStateName(activeX ? InstanceState::Created : InstanceState::Running);
    Write(status, entry->second.second);
}

void StatusBoard::Restarted(const std::string& application, DWORD instance, DWORD processId) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto entry = instances_.find(Key{application, instance});
    if (!open_ || entry == instances_.end()) return;
    InstanceStatus& status = entry->second.first;
    ++status.restarts;
    status.processId = processId;
    status.started = UtcText();
    status.state = InstanceStateName(InstanceState::Running);
    status.nextRestart.clear();
    Write(status, entry->second.second);
}

void StatusBoard::Exited(const std::string& application, DWORD instance, DWORD code, InstanceState next,
                         DWORD restartInMs) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto entry = instances_.find(Key{application, instance});
    if (!open_ || entry == instances_.end()) return;
    InstanceStatus& status = entry->second.first;
    status.lastExitCode = code;
    status.lastExit = UtcText();
    status.state = InstanceStateName(next);
    status.nextRestart = next == InstanceState::WaitingToRestart ? UtcText(restartInMs) : std::string();
    Write(status, entry->second.second);
}

void StatusBoard::ServersEnded() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return;
    for (auto& [key, entry] : instances_) {
        if (!entry.first.activeX || entry.first.state != InstanceStateName(InstanceState::Created)) continue;
        entry.first.state = InstanceStateName(InstanceState::Ended);
        Write(entry.first, entry.second);
    }
}

void StatusBoard::Write(const InstanceStatus& status, DWORD slot) {
    RegistryKey key;
    const std::string path = InstancesPath(keys_) + "\\" + std::to_string(slot);
    if (key.Create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, REG_OPTION_VOLATILE) != ERROR_SUCCESS) return;
    (void)SetTextValue(key.get(), "Application", status.application);
    (void)SetDwordValue(key.get(), "Instance", status.instance);
    (void)SetTextValue(key.get(), "Kind", status.activeX ? "activex" : "program");
    (void)SetTextValue(key.get(), "State", status.state);
    (void)SetDwordValue(key.get(), "ProcessId", status.processId);
    (void)SetTextValue(key.get(), "Started", status.started);
    (void)SetDwordValue(key.get(), "Restarts", status.restarts);
    // A fresh start of the instance leaves nothing of the one before.
    if (status.lastExitCode) {
        (void)SetDwordValue(key.get(), "LastExitCode", *status.lastExitCode);
        (void)SetTextValue(key.get(), "LastExit", status.lastExit);
    } else {
        (void)RegDeleteValueA(key.get(), "LastExitCode");
        (void)RegDeleteValueA(key.get(), "LastExit");
    }
    if (status.nextRestart.empty())
        (void)RegDeleteValueA(key.get(), "NextRestart");
    else
        (void)SetTextValue(key.get(), "NextRestart", status.nextRestart);
}

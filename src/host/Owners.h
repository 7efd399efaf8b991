// Small move-only owners for the kinds of handles the program holds, so that every close,
// free and release is written once.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

// A kernel handle (process, thread, token, module-independent objects).
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (*this) CloseHandle(handle_);
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

// A handle of the service control manager or of one service.
class ServiceHandle {
public:
    ServiceHandle() = default;
    explicit ServiceHandle(SC_HANDLE h) : handle_(h) {}
    ServiceHandle(ServiceHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ServiceHandle& operator=(ServiceHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle() { reset(); }

    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) CloseServiceHandle(handle_);
        handle_ = nullptr;
    }

private:
    SC_HANDLE handle_ = nullptr;
};

// A module loaded with LoadLibrary or LoadLibraryEx.
class ModuleHandle {
public:
    ModuleHandle() = default;
    explicit ModuleHandle(HMODULE h) : handle_(h) {}
    ModuleHandle(ModuleHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ModuleHandle& operator=(ModuleHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;
    ~ModuleHandle() { reset(); }

    HMODULE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) FreeLibrary(handle_);
        handle_ = nullptr;
    }

private:
    HMODULE handle_ = nullptr;
};

// An OLE Automation string.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR s) : str_(s) {}
    explicit Bstr(const wchar_t* s) : str_(SysAllocString(s)) {}
    Bstr(Bstr&& other) noexcept : str_(other.release()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { reset(); }

    BSTR get() const { return str_; }
    BSTR* out() {
        reset();
        return &str_;
    }
    BSTR release() { return std::exchange(str_, nullptr); }
    void reset(BSTR s = nullptr) {
        if (str_) SysFreeString(str_);
        str_ = s;
    }
    UINT length() const { return str_ ? SysStringLen(str_) : 0; }

private:
    BSTR str_ = nullptr;
};

// A VARIANT that is cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(Variant&&) = delete;
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    void clear() { VariantClear(&v_); }

private:
    VARIANT v_;
};

// Move-only owners for every kind of resource the program frees, so that each close, free
// and release is written once, in the traits of its kind.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

// Owns at most one value of Traits::Type. Traits supplies:
//   static Type Invalid();            the value that owns nothing
//   static bool IsValid(Type value);  whether a value is owned
//   static void Close(Type value);    frees a valid value
// The calling thread's last error survives reset and destruction, so an owner that goes out
// of scope between a failing call and GetLastError does not hide the failure.
template <class Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    Type get() const { return value_; }
    explicit operator bool() const { return Traits::IsValid(value_); }
    // Frees what is held and hands out the slot for a function that returns a new value.
    Type* put() {
        reset();
        return &value_;
    }
    [[nodiscard]] Type release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) {
        Type old = std::exchange(value_, value);
        if (Traits::IsValid(old)) {
            const DWORD error = GetLastError();
            Traits::Close(old);
            SetLastError(error);
        }
    }

private:
    Type value_ = Traits::Invalid();
};

// Traits for handle-like values whose invalid value is null.
template <class T, auto CloseFunction>
struct NullInvalidTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type value) { return value != nullptr; }
    static void Close(Type value) { (void)CloseFunction(value); }
};

// A kernel handle (process, thread, token, job, event). Either invalid value owns nothing.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type value) { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void Close(Type value) { (void)CloseHandle(value); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// A handle of the service control manager or of one service.
using ServiceHandle = UniqueResource<NullInvalidTraits<SC_HANDLE, &CloseServiceHandle>>;
// A module loaded with LoadLibrary or LoadLibraryEx.
using ModuleHandle = UniqueResource<NullInvalidTraits<HMODULE, &FreeLibrary>>;
// An event source registered with RegisterEventSource.
using EventSourceHandle = UniqueResource<NullInvalidTraits<HANDLE, &DeregisterEventSource>>;
// A SID made by AllocateAndInitializeSid.
using AllocatedSid = UniqueResource<NullInvalidTraits<PSID, &FreeSid>>;
// An open registry key; see RegistryKey for the operations on it.
using RegistryKeyHandle = UniqueResource<NullInvalidTraits<HKEY, &RegCloseKey>>;
// An icon made by LoadImage (not a shared one) / a menu made by LoadMenu.
using IconHandle = UniqueResource<NullInvalidTraits<HICON, &DestroyIcon>>;
using MenuHandle = UniqueResource<NullInvalidTraits<HMENU, &DestroyMenu>>;

inline void FreeCoTaskMemory(void* memory) { CoTaskMemFree(memory); }
inline void FreeLocalMemory(void* memory) { (void)LocalFree(memory); }
// Memory from CoTaskMemAlloc (StringFromCLSID, ProgIDFromCLSID) / from LocalAlloc
// (FormatMessage with FORMAT_MESSAGE_ALLOCATE_BUFFER).
template <class T>
using CoTaskMemory = UniqueResource<NullInvalidTraits<T*, &FreeCoTaskMemory>>;
template <class T>
using LocalMemory = UniqueResource<NullInvalidTraits<T*, &FreeLocalMemory>>;

// An OLE Automation string.
class Bstr : public UniqueResource<NullInvalidTraits<BSTR, &SysFreeString>> {
public:
    using UniqueResource::UniqueResource;
    explicit Bstr(const wchar_t* text) : UniqueResource(SysAllocString(text)) {}
    // The slot of an out-parameter (frees what is held first).
    BSTR* out() { return put(); }
    UINT length() const { return get() ? SysStringLen(get()) : 0; }
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

// The calling thread's membership of a COM apartment: CoUninitialize when the initialisation
// succeeded (S_FALSE included), nothing when it failed.
class ComInitialization {
public:
    explicit ComInitialization(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    ~ComInitialization() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

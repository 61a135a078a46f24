// One owner for every kind of handle: the traits name the handle's type,
// the value that holds nothing and how a held one is let go, and the
// holder lets it go on every way out.
#pragma once

#include <windows.h>
#include <objbase.h>

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }
    // For a function that writes a new handle: the one held is let go first.
    Type* out()
    {
        reset();
        return &handle_;
    }
    // Hands the handle to a new owner.
    Type release()
    {
        const Type handle = handle_;
        handle_ = Traits::empty();
        return handle;
    }
    void reset(Type handle = Traits::empty())
    {
        if (handle_ != Traits::empty())
            Traits::close(handle_);
        handle_ = handle;
    }

private:
    Type handle_ = Traits::empty();
};

struct FileTraits {
    using Type = HANDLE;
    static Type empty() { return INVALID_HANDLE_VALUE; }
    static void close(Type file) { CloseHandle(file); }
};
using UniqueFile = UniqueHandle<FileTraits>;

struct FindTraits {
    using Type = HANDLE;
    static Type empty() { return INVALID_HANDLE_VALUE; }
    static void close(Type search) { FindClose(search); }
};
using UniqueFind = UniqueHandle<FindTraits>;

struct KeyTraits {
    using Type = HKEY;
    static Type empty() { return nullptr; }
    static void close(Type key) { RegCloseKey(key); }
};
using UniqueKey = UniqueHandle<KeyTraits>;

struct LibraryTraits {
    using Type = HMODULE;
    static Type empty() { return nullptr; }
    static void close(Type library) { FreeLibrary(library); }
};
using UniqueLibrary = UniqueHandle<LibraryTraits>;

// A GDI object of type T (HBITMAP, HFONT, ...), deselected by its user.
template <class T>
struct GdiObjectTraits {
    using Type = T;
    static Type empty() { return nullptr; }
    static void close(Type object) { DeleteObject(object); }
};
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;

// A memory device context of CreateCompatibleDC.
struct MemoryDcTraits {
    using Type = HDC;
    static Type empty() { return nullptr; }
    static void close(Type dc) { DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// The screen's device context of GetDC(nullptr).
struct ScreenDcTraits {
    using Type = HDC;
    static Type empty() { return nullptr; }
    static void close(Type dc) { ReleaseDC(nullptr, dc); }
};
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;

// Memory of the COM allocator, as T (a pointer type).
template <class T>
struct CoTaskMemTraits {
    using Type = T;
    static Type empty() { return nullptr; }
    static void close(Type memory) { CoTaskMemFree(memory); }
};
template <class T>
using UniqueCoTaskMem = UniqueHandle<CoTaskMemTraits<T>>;

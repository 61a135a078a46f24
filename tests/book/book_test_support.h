// Helpers of the book reader's tests: a recording IStream, SHA-256, and a
// fixture base that checks the live-object count.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "book/mobi_book.h"

using Microsoft::WRL::ComPtr;
using Bytes = std::vector<std::uint8_t>;

// An IStream over a copy of some bytes that records what its user does and
// can be told to fail or to claim another size.
class TestStream final : public IStream {
public:
    struct Span {
        ULONGLONG offset;
        ULONG size;  // bytes delivered
        bool operator==(const Span& other) const { return offset == other.offset && size == other.size; }
    };

    static ComPtr<TestStream> over(const Bytes& bytes);

    // Faults and lies.
    int failing_reads = 0;           // the next this many Read calls fail
    int reads_before_failure = -1;   // after this many good Read calls, every call fails
    ULONGLONG bytes_before_failure = ~0ull;  // a Read that would deliver more in all fails
    HRESULT read_error = STG_E_READFAULT;
    ULONGLONG claimed_size = 0;      // nonzero: Stat reports this size

    // What happened.
    std::vector<Span> reads;
    int read_calls = 0;
    int seek_calls = 0;
    int stat_calls = 0;
    int calls() const { return read_calls + seek_calls + stat_calls; }
    void forget() { reads.clear(), read_calls = seek_calls = stat_calls = 0; }
    ULONG refs() const { return refs_; }
    ULONGLONG position();
    // End of the farthest byte read since the last forget().
    ULONGLONG read_end() const;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // ISequentialStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                        ULARGE_INTEGER* written) override;
    STDMETHODIMP Commit(DWORD flags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
    STDMETHODIMP Stat(STATSTG* statstg, DWORD flags) override;
    STDMETHODIMP Clone(IStream** out) override;

private:
    TestStream() = default;
    ~TestStream() = default;
    ULONG refs_ = 1;
    ULONGLONG delivered_ = 0;
    ComPtr<IStream> inner_;
};

// A new book owned by the returned pointer.
ComPtr<MobiBook> book_on(const std::wstring& path);
ComPtr<MobiBook> book_on(IStream* stream);

// Read-only stream on a file (SHCreateStreamOnFileW).
ComPtr<IStream> open_read_only(const std::wstring& path);
// All bytes of a file or of an HGLOBAL memory stream.
Bytes file_bytes(const std::wstring& path);
Bytes memory_stream_bytes(IStream* stream);
// Bytes of a file under tests/data.
Bytes test_data(const wchar_t* relative);

std::string sha256_hex(const Bytes& bytes);

std::wstring widen(const std::string& utf8);

// Width and height of a bitmap source; its pixels in rect as 32-bit BGRA;
// the pixel at x, y.
void bitmap_size(IWICBitmapSource* source, UINT& width, UINT& height);
HRESULT copy_bgra(IWICBitmapSource* source, const WICRect& rect, std::vector<std::uint32_t>& pixels);
std::uint32_t bgra_pixel(IWICBitmapSource* source, UINT x, UINT y);

// The imaging component, loaded against the stand-in property-system
// library of the tests (see tests/support/propsys_stand_in.h). Tests that
// decode images call it first.
void load_imaging();

// Every test ends with the module's live-object count where it started.
class BookTest : public ::testing::Test {
protected:
    void SetUp() override { lock_count_ = g_module_lock_count; }
    void TearDown() override { EXPECT_EQ(lock_count_, g_module_lock_count); }

private:
    LONG lock_count_ = 0;
};

#include "book_test_support.h"

#include <shlwapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>

#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

// ---- TestStream

ComPtr<TestStream> TestStream::over(const Bytes& bytes)
{
    ComPtr<TestStream> stream;
    *stream.GetAddressOf() = new TestStream;  // mingw's ComPtr::Attach adds a reference
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream->inner_));
    ULONG written = 0;
    EXPECT_EQ(S_OK, stream->inner_->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written));
    EXPECT_EQ(bytes.size(), written);
    const LARGE_INTEGER start = {};
    stream->inner_->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

ULONGLONG TestStream::position()
{
    const LARGE_INTEGER zero = {};
    ULARGE_INTEGER at = {};
    inner_->Seek(zero, STREAM_SEEK_CUR, &at);
    return at.QuadPart;
}

ULONGLONG TestStream::read_end() const
{
    ULONGLONG end = 0;
    for (const Span& read : reads)
        end = std::max(end, read.offset + read.size);
    return end;
}

STDMETHODIMP TestStream::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TestStream::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) TestStream::Release()
{
    const ULONG refs = --refs_;
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP TestStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    ++read_calls;
    if (pcbRead)
        *pcbRead = 0;
    if (failing_reads > 0) {
        --failing_reads;
        return read_error;
    }
    if (reads_before_failure == 0)
        return read_error;
    if (reads_before_failure > 0)
        --reads_before_failure;
    if (cb > bytes_before_failure - delivered_)
        return read_error;
    const ULONGLONG offset = position();
    ULONG got = 0;
    const HRESULT hr = inner_->Read(pv, cb, &got);
    reads.push_back({offset, got});
    delivered_ += got;
    if (pcbRead)
        *pcbRead = got;
    return hr;
}

STDMETHODIMP TestStream::Write(const void*, ULONG, ULONG*) { return STG_E_ACCESSDENIED; }

STDMETHODIMP TestStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    ++seek_calls;
    return inner_->Seek(move, origin, position);
}

STDMETHODIMP TestStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }

STDMETHODIMP TestStream::CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                ULARGE_INTEGER* written)
{
    // Through Read, so that copies are recorded and can fail.
    ULONGLONG done = 0;
    HRESULT hr = S_OK;
    BYTE buffer[4096];
    while (done < cb.QuadPart) {
        const ULONG chunk = static_cast<ULONG>(std::min<ULONGLONG>(sizeof buffer, cb.QuadPart - done));
        ULONG got = 0;
        hr = Read(buffer, chunk, &got);
        if (FAILED(hr) || got == 0)
            break;
        ULONG put = 0;
        hr = target->Write(buffer, got, &put);
        if (FAILED(hr))
            break;
        done += got;
    }
    if (read)
        read->QuadPart = done;
    if (written)
        written->QuadPart = done;
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP TestStream::Commit(DWORD) { return S_OK; }
STDMETHODIMP TestStream::Revert() { return S_OK; }
STDMETHODIMP TestStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
STDMETHODIMP TestStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

STDMETHODIMP TestStream::Stat(STATSTG* statstg, DWORD flags)
{
    ++stat_calls;
    const HRESULT hr = inner_->Stat(statstg, flags);
    if (SUCCEEDED(hr) && claimed_size != 0)
        statstg->cbSize.QuadPart = claimed_size;
    return hr;
}

STDMETHODIMP TestStream::Clone(IStream** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

// ---- books, files, streams

ComPtr<MobiBook> book_on(const std::wstring& path)
{
    return new_book(path.c_str());
}

ComPtr<MobiBook> book_on(IStream* stream)
{
    return new_book(stream);
}

ComPtr<IStream> open_read_only(const std::wstring& path)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, SHCreateStreamOnFileW(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, &stream));
    return stream;
}

Bytes file_bytes(const std::wstring& path)
{
    Bytes bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << std::string(path.begin(), path.end());
        return bytes;
    }
    std::uint8_t buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, file)) != 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

Bytes memory_stream_bytes(IStream* stream)
{
    HGLOBAL memory = nullptr;
    Bytes bytes;
    if (FAILED(GetHGlobalFromStream(stream, &memory)))
        return bytes;
    STATSTG statstg = {};
    stream->Stat(&statstg, STATFLAG_NONAME);
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(memory));
    if (data)
        bytes.assign(data, data + statstg.cbSize.QuadPart);
    GlobalUnlock(memory);
    return bytes;
}

Bytes test_data(const wchar_t* relative)
{
    return file_bytes(source_path((std::wstring(L"tests/data/") + relative).c_str()));
}

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
    return text;
}

// ---- SHA-256, through the CryptoAPI

std::string sha256_hex(const Bytes& bytes)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD size = sizeof digest;
    std::string hex;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest) {
        char two[3];
        for (BYTE b : digest) {
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return hex;
}

// ---- bitmaps

void bitmap_size(IWICBitmapSource* source, UINT& width, UINT& height)
{
    width = height = 0;
    EXPECT_EQ(S_OK, source->GetSize(&width, &height));
}

HRESULT copy_bgra(IWICBitmapSource* source, const WICRect& rect, std::vector<std::uint32_t>& pixels)
{
    // Through a converter of a factory of its own: the test program does not
    // import windowscodecs.dll, which COM loads on first use.
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&factory));
    ComPtr<IWICFormatConverter> converter;
    if (SUCCEEDED(hr))
        hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom);
    pixels.assign(static_cast<std::size_t>(rect.Width) * static_cast<std::size_t>(rect.Height), 0);
    if (SUCCEEDED(hr))
        hr = converter->CopyPixels(&rect, static_cast<UINT>(rect.Width) * 4,
                                   static_cast<UINT>(pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(pixels.data()));
    return hr;
}

std::uint32_t bgra_pixel(IWICBitmapSource* source, UINT x, UINT y)
{
    std::vector<std::uint32_t> pixel;
    EXPECT_EQ(S_OK, copy_bgra(source, {static_cast<INT>(x), static_cast<INT>(y), 1, 1}, pixel));
    return pixel.at(0);
}

void load_imaging()
{
    ASSERT_TRUE(load_imaging_component());
}

#include "book_test_support.h"

#include <shlwapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

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
    const ULONGLONG offset = position();
    ULONG got = 0;
    const HRESULT hr = inner_->Read(pv, cb, &got);
    reads.push_back({offset, got});
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
    ComPtr<MobiBook> book;
    *book.GetAddressOf() = new MobiBook(path.c_str());
    return book;
}

ComPtr<MobiBook> book_on(IStream* stream)
{
    ComPtr<MobiBook> book;
    *book.GetAddressOf() = new MobiBook(stream);
    return book;
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

// ---- the manifest: a small JSON reader for what it holds

namespace {

struct JsonReader {
    const std::string& text;
    std::size_t at = 0;

    bool eat(char c)
    {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
        if (at < text.size() && text[at] == c)
            return ++at, true;
        return false;
    }
    void need(char c)
    {
        if (!eat(c))
            throw std::runtime_error(std::string("expected ") + c + " at " + std::to_string(at));
    }
    bool word(const char* w)
    {
        const std::size_t n = std::strlen(w);
        return text.compare(at, n, w) == 0 ? (at += n, true) : false;
    }

    Json value()
    {
        Json v;
        if (eat('{')) {
            v.kind = Json::Object;
            if (!eat('}')) {
                do {
                    const std::string key = string();
                    need(':');
                    v.members[key] = value();
                } while (eat(','));
                need('}');
            }
        } else if (eat('[')) {
            v.kind = Json::Array;
            if (!eat(']')) {
                do
                    v.items.push_back(value());
                while (eat(','));
                need(']');
            }
        } else if (text.compare(at, 1, "\"") == 0) {
            v.kind = Json::String;
            v.text = string();
        } else if (word("true") || word("false")) {
            v.kind = Json::Bool;
            v.boolean = text[at - 1] == 'e' && text[at - 2] == 'u';  // "true"
        } else if (!word("null")) {
            std::size_t used = 0;
            v.number = std::stod(text.substr(at, 32), &used);
            v.kind = Json::Number;
            at += used;
        }
        return v;
    }

    // Escapes other than \uXXXX (BMP only) stand for themselves, which is
    // right for \" \\ \/ and good enough for a manifest without control
    // characters.
    std::string string()
    {
        need('"');
        std::string s;
        for (char c; (c = text.at(at++)) != '"';) {
            if (c != '\\') {
                s += c;
            } else if ((c = text.at(at++)) != 'u') {
                s += c;
            } else {
                const unsigned u = static_cast<unsigned>(std::stoul(text.substr(at, 4), nullptr, 16));
                at += 4;
                if (u < 0x80) {
                    s += static_cast<char>(u);
                } else if (u < 0x800) {
                    s += static_cast<char>(0xC0 | u >> 6);
                    s += static_cast<char>(0x80 | (u & 0x3F));
                } else {
                    s += static_cast<char>(0xE0 | u >> 12);
                    s += static_cast<char>(0x80 | (u >> 6 & 0x3F));
                    s += static_cast<char>(0x80 | (u & 0x3F));
                }
            }
        }
        return s;
    }
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    static const Json null;
    const auto found = members.find(key);
    return found == members.end() ? null : found->second;
}

std::vector<std::wstring> Json::wide_texts() const
{
    std::vector<std::wstring> texts;
    for (const Json& item : items)
        texts.push_back(widen(item.text));
    return texts;
}

const Json& books_manifest()
{
    static const Json manifest = [] {
        const Bytes bytes = test_data(L"books/manifest.json");
        const std::string text(bytes.begin(), bytes.end());
        try {
            JsonReader reader{text};
            return reader.value();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "manifest.json: " << e.what();
            return Json{};
        }
    }();
    return manifest;
}

std::vector<std::string> manifest_file_names()
{
    std::vector<std::string> names;
    for (const Json& book : books_manifest().items)
        names.push_back(book["file"].text);
    return names;
}

const Json& manifest_entry(const std::string& file)
{
    for (const Json& book : books_manifest().items)
        if (book["file"].text == file)
            return book;
    static const Json null;
    return null;
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

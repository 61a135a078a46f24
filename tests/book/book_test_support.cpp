#include "book_test_support.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
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

// ---- SHA-256 (FIPS 180-4)

std::string sha256_hex(const Bytes& bytes)
{
    static const std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes message = bytes;
    const std::uint64_t bits = std::uint64_t{bytes.size()} * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56)
        message.push_back(0);
    for (int i = 7; i >= 0; --i)
        message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));

    auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (std::size_t block = 0; block < message.size(); block += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = &message[block + 4 * i];
            w[i] = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
        }
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }
    std::string hex;
    char digits[9];
    for (std::uint32_t word : h) {
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
        hex += digits;
    }
    return hex;
}

// ---- the manifest: a small JSON reader for what it holds

namespace {

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    Json document()
    {
        Json value = parse();
        skip_space();
        if (at_ != text_.size())
            throw std::runtime_error("trailing text");
        return value;
    }

private:
    void skip_space()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }
    char next()
    {
        skip_space();
        if (at_ >= text_.size())
            throw std::runtime_error("unexpected end");
        return text_[at_];
    }
    void expect(char c)
    {
        if (next() != c)
            throw std::runtime_error(std::string("expected ") + c);
        ++at_;
    }
    bool word(const char* w)
    {
        const std::string s(w);
        if (text_.compare(at_, s.size(), s) != 0)
            return false;
        at_ += s.size();
        return true;
    }

    Json parse()
    {
        Json value;
        const char c = next();
        if (c == '{') {
            value.kind = Json::Object;
            ++at_;
            if (next() == '}')
                return ++at_, value;
            for (;;) {
                const std::string key = string();
                expect(':');
                value.members[key] = parse();
                if (next() == ',') {
                    ++at_;
                    continue;
                }
                expect('}');
                return value;
            }
        }
        if (c == '[') {
            value.kind = Json::Array;
            ++at_;
            if (next() == ']')
                return ++at_, value;
            for (;;) {
                value.items.push_back(parse());
                if (next() == ',') {
                    ++at_;
                    continue;
                }
                expect(']');
                return value;
            }
        }
        if (c == '"') {
            value.kind = Json::String;
            value.text = string();
            return value;
        }
        if (word("true")) {
            value.kind = Json::Bool;
            value.boolean = true;
            return value;
        }
        if (word("false")) {
            value.kind = Json::Bool;
            return value;
        }
        if (word("null"))
            return value;
        std::size_t used = 0;
        value.number = std::stod(text_.substr(at_, 32), &used);
        value.kind = Json::Number;
        at_ += used;
        return value;
    }

    std::string string()
    {
        expect('"');
        std::string s;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c != '\\') {
                s += c;
                continue;
            }
            c = text_.at(at_++);
            switch (c) {
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'r': s += '\r'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'u': {
                unsigned unit = static_cast<unsigned>(std::stoul(text_.substr(at_, 4), nullptr, 16));
                at_ += 4;
                if (unit >= 0xD800 && unit < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                    const unsigned low = static_cast<unsigned>(std::stoul(text_.substr(at_ + 2, 4), nullptr, 16));
                    at_ += 6;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                if (unit < 0x80) {
                    s += static_cast<char>(unit);
                } else if (unit < 0x800) {
                    s += static_cast<char>(0xC0 | unit >> 6);
                    s += static_cast<char>(0x80 | (unit & 0x3F));
                } else if (unit < 0x10000) {
                    s += static_cast<char>(0xE0 | unit >> 12);
                    s += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
                    s += static_cast<char>(0x80 | (unit & 0x3F));
                } else {
                    s += static_cast<char>(0xF0 | unit >> 18);
                    s += static_cast<char>(0x80 | (unit >> 12 & 0x3F));
                    s += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
                    s += static_cast<char>(0x80 | (unit & 0x3F));
                }
                break;
            }
            default: s += c; break;
            }
        }
        expect('"');
        return s;
    }

    const std::string& text_;
    std::size_t at_ = 0;
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
        try {
            return JsonReader(std::string(bytes.begin(), bytes.end())).document();
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

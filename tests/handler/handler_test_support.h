// Helpers of the handler tests: fixture books, streams, a data object with a
// drop list, books with a cover of one or two colours, and a look at a handler's own
// fields for what no interface shows (the books of a multi-file selection).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "book/mobi_book.h"
#include "handler/book_handler.h"
#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"

namespace handler_test {

inline std::wstring book_path(const wchar_t* name)
{
    return source_path((std::wstring(L"tests/data/books/") + name).c_str());
}

inline ComPtr<IStream> file_stream(const std::wstring& path)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, SHCreateStreamOnFileW(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                          stream.GetAddressOf()));
    return stream;
}

// A new handler asked for I and initialised through the path route with
// path, or through the stream route with stream.
template <class I>
ComPtr<I> handler_on(const std::wstring& path)
{
    ComPtr<I> handler = qb_create<I>();
    ComPtr<IInitializeWithFile> init;
    if (handler && SUCCEEDED(handler.As(&init))) {
        EXPECT_EQ(S_OK, init->Initialize(path.c_str(), STGM_READ));
    }
    return handler;
}

template <class I>
ComPtr<I> handler_on(IStream* stream)
{
    ComPtr<I> handler = qb_create<I>();
    ComPtr<IInitializeWithStream> init;
    if (handler && SUCCEEDED(handler.As(&init))) {
        EXPECT_EQ(S_OK, init->Initialize(stream, STGM_READ));
    }
    return handler;
}

inline ComPtr<IStream> memory_stream(const mobi_test::Bytes& bytes)
{
    ComPtr<IStream> stream;
    // mingw-w64's ComPtr::Attach adds a reference; take ownership directly.
    *stream.GetAddressOf() = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    EXPECT_TRUE(stream);
    return stream;
}

// References held on object besides the caller's own.
inline ULONG other_references(IUnknown* object)
{
    object->AddRef();
    return object->Release() - 1;
}

// The handler behind any of its interfaces. The test program is built from
// the same sources as the module, so the object's layout is the same.
template <class I>
BookHandler* handler_of(I* any)
{
    ComPtr<IShellExtInit> init;
    EXPECT_EQ(S_OK, any->QueryInterface(IID_PPV_ARGS(&init)));
    return static_cast<BookHandler*>(init.Get());
}

inline std::vector<std::wstring> book_paths(BookHandler* handler)
{
    std::vector<std::wstring> paths;
    for (const ComPtr<MobiBook>& book : handler->books)
        paths.push_back(book->file_path);
    return paths;
}

// Width, height (negative for top-down) and bit depth of a DIB section.
struct DibShape {
    LONG width = 0;
    LONG height = 0;
    WORD bits = 0;
    bool is_dib = false;
};

inline DibShape dib_shape(HBITMAP bitmap)
{
    DibShape shape;
    DIBSECTION section = {};
    if (GetObjectW(bitmap, sizeof(section), &section) == sizeof(section)) {
        shape.width = section.dsBmih.biWidth;
        shape.height = section.dsBmih.biHeight;
        shape.bits = section.dsBmih.biBitCount;
        shape.is_dib = section.dsBm.bmBits != nullptr;
    }
    return shape;
}

struct Bgr {
    BYTE blue;
    BYTE green;
    BYTE red;
};

// Pixels (rows of stride bytes in format) encoded by WIC in the given
// container format; empty when WIC cannot.
inline mobi_test::Bytes encoded_image(REFGUID container, UINT width, UINT height,
                                      WICPixelFormatGUID format, UINT stride,
                                      std::vector<BYTE> pixels)
{
    mobi_test::Bytes bytes;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))))
        return bytes;
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf());
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    const WICPixelFormatGUID wanted = format;
    if (!stream || FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &options)) ||
        FAILED(frame->Initialize(options.Get())) || FAILED(frame->SetSize(width, height)) ||
        FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, wanted) ||
        FAILED(frame->WritePixels(height, stride, static_cast<UINT>(pixels.size()),
                                  pixels.data())) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return bytes;
    STATSTG stat = {};
    LARGE_INTEGER start = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) ||
        FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        return bytes;
    bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    if (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) ||
        read != bytes.size())
        bytes.clear();
    return bytes;
}

// An image whose top half is top and bottom half bottom, encoded by WIC in
// the given container format.
inline mobi_test::Bytes banded_image(REFGUID container, UINT width, UINT height, Bgr top,
                                     Bgr bottom)
{
    std::vector<BYTE> pixels;
    for (UINT y = 0; y < height; ++y) {
        const Bgr colour = y < height / 2 ? top : bottom;
        for (UINT x = 0; x < width; ++x)
            pixels.insert(pixels.end(), {colour.blue, colour.green, colour.red});
    }
    return encoded_image(container, width, height, GUID_WICPixelFormat24bppBGR, width * 3,
                         std::move(pixels));
}

// A valid book whose cover (EXTH 201, first image record) is image.
inline mobi_test::Bytes book_with_cover(const mobi_test::Bytes& image)
{
    mobi_test::MobiBuilder builder;
    builder.title = "Solid";
    builder.exth(100, "Painter");
    builder.exth_u32(201, 0);
    builder.add_text(256);
    builder.add_image(image);
    return builder.build().bytes;
}

// A data object that answers GetData with a prepared result: a CF_HDROP
// drop list in global memory, another kind of medium, or a failure.
class DropData : public IDataObject {
public:
    enum class Answer { DropList, StreamMedium, NoDropList };

    static ComPtr<DropData> drop_list(const std::vector<std::wstring>& paths)
    {
        ComPtr<DropData> data;
        *data.GetAddressOf() = new DropData(Answer::DropList);
        data->set_paths(paths);
        return data;
    }
    static ComPtr<DropData> answering(Answer answer)
    {
        ComPtr<DropData> data;
        *data.GetAddressOf() = new DropData(answer);
        return data;
    }

    // Media handed out and not yet released by the receiver.
    LONG outstanding_media() const { return outstanding_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDataObject) {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (answer_ == Answer::NoDropList || format->cfFormat != CF_HDROP)
            return DV_E_FORMATETC;
        if (format->dwAspect != DVASPECT_CONTENT || format->lindex != -1 ||
            !(format->tymed & TYMED_HGLOBAL))
            return DV_E_TYMED;
        // The receiver releases the medium through pUnkForRelease, which
        // counts it; the memory stays ours.
        medium->pUnkForRelease = new MediumRelease(this);
        if (answer_ == Answer::StreamMedium) {
            medium->tymed = TYMED_ISTREAM;
            medium->pstm = SHCreateMemStream(nullptr, 0);
        } else {
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = memory_;
        }
        InterlockedIncrement(&outstanding_);
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    // Stands for one medium handed out; releasing it counts the medium back.
    class MediumRelease final : public IUnknown {
    public:
        explicit MediumRelease(DropData* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            *ppv = riid == IID_IUnknown ? this : nullptr;
            if (!*ppv)
                return E_NOINTERFACE;
            AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
        STDMETHODIMP_(ULONG) Release() override
        {
            const LONG left = InterlockedDecrement(&refs_);
            if (left == 0) {
                InterlockedDecrement(&owner_->outstanding_);
                delete this;
            }
            return ULONG(left);
        }

    private:
        ComPtr<DropData> owner_;
        volatile LONG refs_ = 1;
    };

    explicit DropData(Answer answer) : answer_(answer) {}
    virtual ~DropData()
    {
        if (memory_)
            GlobalFree(memory_);
    }

    // DROPFILES, then the wide paths, each ended by a null, then one more.
    // An empty list is two nulls: DragQueryFileW reads past the first.
    void set_paths(const std::vector<std::wstring>& paths)
    {
        std::wstring list;
        for (const std::wstring& path : paths)
            list += path + L'\0';
        list += paths.empty() ? std::wstring(2, L'\0') : std::wstring(1, L'\0');
        const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
        memory_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        auto* drop = static_cast<DROPFILES*>(GlobalLock(memory_));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
        GlobalUnlock(memory_);
    }

    volatile LONG refs_ = 1;
    volatile LONG outstanding_ = 0;
    Answer answer_;
    HGLOBAL memory_ = nullptr;
};

}  // namespace handler_test

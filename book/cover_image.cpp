// Decoding of a book's cover image record. The decoder reads the record
// through a WIC stream over a region of the book's own stream, so it sees
// exactly the cover record and nothing is copied here.
#include "book/mobi_book.h"

#include "server/log.h"

using Microsoft::WRL::ComPtr;

HRESULT MobiBook::get_cover_image(IWICBitmapSource** out, IWICImagingFactory* callers_factory)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (cover_size == 0)
        return E_FAIL;

    // Making a factory costs as much as decoding a small cover.
    ComPtr<IWICImagingFactory> factory(callers_factory);
    if (!factory)
        ENSURE(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.GetAddressOf())));
    ComPtr<IStream> book_stream;
    RETURN_IF_FAILED(open_stream(&book_stream));
    ComPtr<IWICStream> region;
    ENSURE(factory->CreateStream(&region));
    ULARGE_INTEGER offset, size;
    offset.QuadPart = cover_offset;
    size.QuadPart = cover_size;
    ENSURE(region->InitializeFromIStreamRegion(book_stream.Get(), offset, size));
    ComPtr<IWICBitmapDecoder> decoder;
    ENSURE(factory->CreateDecoderFromStream(region.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                            &decoder));
    ComPtr<IWICBitmapFrameDecode> frame;
    ENSURE(decoder->GetFrame(0, &frame));
    ComPtr<IWICBitmapSource> source;
    ENSURE(frame->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(source.GetAddressOf())));
    *out = source.Detach();
    return S_OK;
}

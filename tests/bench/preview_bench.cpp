// Preview benchmark, under Wine: a book whose cover is a 6000 x 9000 JPEG.
//
//   qb_preview_bench make BOOK   writes that book (the cover encoded in
//                                bands, so this process never holds it whole)
//   qb_preview_bench BOOK SMALL  in one process: the preview of SMALL (a small
//                                book), then of BOOK, each hosted as the shell
//                                hosts it; then BOOK's thumbnail at 256
//
// Figures: the time from DoPreview to the pane drawn (its median of a few
// rounds), the private bytes at the peak while BOOK's preview is made above
// the peak while SMALL's was (sampled by a second thread), and the time of
// the time and peak of the thumbnail of the same cover at 256 pixels (one
// full decode where the decoder cannot scale). Then the peak of the
// preview's cover decode alone above the process before it, through Wine's
// decoder of BOOK's cover and through a decoder of the tests' own that scales
// by itself (1/2, 1/4, 1/8; Wine's never do) over a 6000 x 9000 picture held
// by it. Output:
//   preview_huge_cover_ms=<time>  preview_huge_cover_peak_mb=<MB>
//   thumbnail_huge_cover_ms=<time>  thumbnail_huge_cover_peak_mb=<MB>
//   preview_time_vs_thumbnail=<ratio>
//   cover_decode_peak_mb_wine=<MB>  cover_decode_peak_mb_scaling=<MB>
#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "book/mobi_book.h"
#include "host/preview_host.h"
#include "imaging/fitted_picture.h"
#include "preview/preview_handler.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/private_bytes.h"
#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"
#include "tests/support/scaling_frame.h"

namespace {

constexpr UINT WIDTH = 6000, HEIGHT = 9000, BAND = 250;

double now_ms()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(frequency.QuadPart);
}

// A JPEG of two colour bands with a diagonal, written band by band.
bench::Bytes huge_jpeg()
{
    bench::Bytes bytes;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &options)) || FAILED(frame->Initialize(options.Get())) ||
        FAILED(frame->SetSize(WIDTH, HEIGHT)) || FAILED(frame->SetPixelFormat(&format)) ||
        !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return bytes;
    std::vector<BYTE> band(std::size_t(WIDTH) * 3 * BAND);
    for (UINT top = 0; top < HEIGHT; top += BAND) {
        for (UINT y = 0; y < BAND; ++y)
            for (UINT x = 0; x < WIDTH; ++x) {
                BYTE* pixel = &band[(std::size_t(y) * WIDTH + x) * 3];
                const bool upper = top + y < HEIGHT / 2;
                const bool line = (x * HEIGHT / WIDTH) / 40 == (top + y) / 40;
                pixel[0] = line ? 255 : upper ? 200 : 40;
                pixel[1] = line ? 255 : upper ? 90 : 160;
                pixel[2] = line ? 255 : upper ? 40 : 200;
            }
        if (FAILED(frame->WritePixels(BAND, WIDTH * 3, UINT(band.size()), band.data())))
            return bytes;
    }
    STATSTG stat = {};
    const LARGE_INTEGER start = {};
    if (FAILED(frame->Commit()) || FAILED(encoder->Commit()) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        return bytes;
    bytes.resize(std::size_t(stat.cbSize.QuadPart));
    ULONG read = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    bytes.resize(read);
    return bytes;
}

int make(const wchar_t* path)
{
    const bench::Bytes cover = huge_jpeg();
    if (cover.empty()) {
        std::fprintf(stderr, "cannot encode the cover\n");
        return 1;
    }
    mobi_test::MobiBuilder builder;
    builder.title = "Huge Cover";
    builder.exth(100, std::string("Painter"));
    builder.exth_u32(201, 0);
    const std::string text = "<html><body><p>A book whose cover is very large.</p></body></html>";
    builder.add_book_text(bench::Bytes(text.begin(), text.end()));
    builder.add_image(cover);
    const bench::Bytes book = builder.build().bytes;
    std::FILE* file = _wfopen(path, L"wb");
    const bool written = file && std::fwrite(book.data(), 1, book.size(), file) == book.size();
    if (file)
        std::fclose(file);
    std::printf("built %ls: %u x %u JPEG cover of %zu bytes\n", path, WIDTH, HEIGHT, cover.size());
    return written ? 0 : 1;
}

ComPtr<IStream> memory_stream(const bench::Bytes& bytes)
{
    return ComPtr<IStream>(SHCreateMemStream(bytes.data(), UINT(bytes.size())));
}

// DoPreview to the pane drawn, in ms; false when the handler showed nothing.
bool preview_once(IClassFactory* factory, const bench::Bytes& book, double* ms)
{
    ComPtr<IUnknown> handler;
    if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler))))
        return false;
    PreviewHost host;
    const double start = now_ms();
    if (host.start(handler.Get(), memory_stream(book).Get(), 720, 480) != S_OK)
        return false;
    UpdateWindow(host.frame());
    pump_preview_messages();
    *ms = now_ms() - start;
    return true;
}

bool thumbnail_once(const bench::Bytes& book, double* ms)
{
    ComPtr<IClassFactory> factory;
    ComPtr<IInitializeWithStream> init;
    ComPtr<IThumbnailProvider> provider;
    const double start = now_ms();
    if (FAILED(qb_module().DllGetClassObject(CLSID_Quirebinder, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&init))) ||
        FAILED(init->Initialize(memory_stream(book).Get(), STGM_READ)) || FAILED(init.As(&provider)))
        return false;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (provider->GetThumbnail(256, &bitmap, &alpha) != S_OK)
        return false;
    *ms = now_ms() - start;
    DeleteObject(bitmap);
    return true;
}

// The preview's cover decode's peak above the process before it, in MB, through Wine's
// decoder of book's cover, or through the tests' own decoder that scales.
bool cover_decode_peak(const bench::Bytes& book, bool scaling, double* mb)
{
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmap> picture, cover;
    ComPtr<IWICBitmapSource> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))))
        return false;
    ScalingFrame* own = nullptr;
    if (scaling) {
        picture = banded_picture(factory.Get(), WIDTH, HEIGHT, GUID_WICPixelFormat24bppBGR, 0x285AC8, 0xC8A028);
        if (!picture)
            return false;
        *frame.GetAddressOf() = own = new ScalingFrame(factory.Get(), picture.Get(), {1, 2, 4, 8}, Rounding::up);
    } else {
        const ComPtr<MobiBook> source = new_book(memory_stream(book).Get());
        if (!source->is_valid() || FAILED(source->get_cover_image(&frame, factory.Get())))
            return false;
    }
    HRESULT hr = E_FAIL;
    const SIZE_T before = private_kb();
    const SIZE_T peak = peak_kb_during([&] {
        ComPtr<IWICBitmapSource> fitted;
        hr = fit_frame(factory.Get(), frame.Get(), COVER_LIMIT, COVER_LIMIT, FitRule::shrink, fitted);
        if (SUCCEEDED(hr))
            hr = factory->CreateBitmapFromSource(fitted.Get(), WICBitmapCacheOnLoad, &cover);
    });
    *mb = double(peak > before ? peak - before : 0) / 1024.0;
    return SUCCEEDED(hr) && (!own || own->scaled_copies == 1);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    if (argc != 3 || !load_imaging_component()) {
        std::fprintf(stderr, "usage: qb_preview_bench make BOOK | qb_preview_bench BOOK SMALL\n");
        return 1;
    }
    if (std::wstring(argv[1]) == L"make")
        return make(argv[2]);
    const bench::Bytes huge = bench::read_file(argv[1]), small = bench::read_file(argv[2]);
    ComPtr<IClassFactory> factory;
    if (huge.empty() || small.empty() ||
        FAILED(qb_module().DllGetClassObject(CLSID_QuirebinderPreview, IID_PPV_ARGS(&factory))))
        return 1;
    double ms = 0;
    bool shown = true;
    const SIZE_T small_peak = peak_kb_during([&] { shown = preview_once(factory.Get(), small, &ms) && shown; });
    std::vector<double> times;
    const SIZE_T huge_peak = peak_kb_during([&] {
        shown = preview_once(factory.Get(), huge, &ms) && shown;
        times.push_back(ms);
    });
    for (int round = 0; round < 2 && shown; ++round) {
        shown = preview_once(factory.Get(), huge, &ms);
        times.push_back(ms);
    }
    std::vector<double> thumbnails;
    SIZE_T thumbnail_peak = 0;
    for (int round = 0; round < 3 && shown; ++round) {
        const SIZE_T peak = peak_kb_during([&] { shown = thumbnail_once(huge, &ms); });
        thumbnail_peak = std::max(thumbnail_peak, peak);
        thumbnails.push_back(ms);
    }
    double wine_decode_mb = 0, scaling_decode_mb = 0;
    shown = shown && cover_decode_peak(huge, false, &wine_decode_mb) &&
            cover_decode_peak(huge, true, &scaling_decode_mb);
    if (!shown) {
        std::fprintf(stderr, "the preview, the thumbnail or a cover decode failed\n");
        return 1;
    }
    const double preview = median(times), thumbnail = median(thumbnails);
    const auto above = [&](SIZE_T peak) { return double(peak > small_peak ? peak - small_peak : 0) / 1024.0; };
    const double peak_mb = above(huge_peak), thumbnail_peak_mb = above(thumbnail_peak);
    std::printf("preview of a %u x %u JPEG cover: %.0f ms to drawn, %.1f MB private at the peak "
                "above a small book's; its thumbnail at 256: %.0f ms, %.1f MB\n",
                WIDTH, HEIGHT, preview, peak_mb, thumbnail, thumbnail_peak_mb);
    std::printf("preview_huge_cover_ms=%.0f\npreview_huge_cover_peak_mb=%.1f\n"
                "thumbnail_huge_cover_ms=%.0f\nthumbnail_huge_cover_peak_mb=%.1f\n"
                "preview_time_vs_thumbnail=%.2f\n",
                preview, peak_mb, thumbnail, thumbnail_peak_mb, preview / thumbnail);
    std::printf("the cover decode alone: %.1f MB at the peak through Wine's decoder, %.1f MB through "
                "one that scales by itself\ncover_decode_peak_mb_wine=%.1f\ncover_decode_peak_mb_scaling=%.1f\n",
                wine_decode_mb, scaling_decode_mb, wine_decode_mb, scaling_decode_mb);
    CoUninitialize();
    return 0;
}

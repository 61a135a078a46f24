// Thumbnail benchmark, under Wine, one process: GetThumbnail(256) through
// the module against the imaging floor, which is the same work on the same
// cover bytes with no handler around it: a WIC stream over the cover bytes
// in memory, decoder, frame 0, conversion to 32-bit BGR, Fant scaling to the
// same size, and the copy into a new top-down DIB section.
//
// Both sides start from memory: the handler gets one memory stream over the
// book file (made once per book, as the shell hands over its stream), the
// floor the cover record's bytes and one imaging factory for the run. Each
// handler call makes a new handler through the class factory, initialises
// it with the stream, asks for the thumbnail and releases it. The sides are
// timed in alternating rounds; a side's time is its median round, and the
// ratio is the handler's time over the floor's.
//
// It also times the floor with two costs of the handler's design added (a
// new imaging factory on every call, and the cover read through a region of
// the book's stream), and the
// handler's fixed costs, to tell where a gap comes from.
//
// With a book whose cover is a 6000 x 9000 JPEG (qb_preview_bench make), it
// then gives that cover's thumbnail at 256: its time (median of three) and
// its peak private bytes above the process before it, through Wine's decoder
// (GetThumbnail through the module; Wine's decoders never scale by
// themselves, so the cover is decoded whole) and through a decoder of the
// tests' own that scales by 1/2 to 1/8 (the imaging room's road from the
// decoder's frame on; its picture, held by the decoder, is not counted).
//
// Output: one line per fixture book with a cover, then
//   thumbnail_cost_vs_floor=<worst ratio>
// and with the large cover's book
//   thumbnail_huge_cover_ms_wine=<ms>  thumbnail_huge_cover_peak_mb_wine=<MB>
//   thumbnail_huge_cover_ms_scaling=<ms>  thumbnail_huge_cover_peak_mb_scaling=<MB>
#include <windows.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <thumbcache.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "book/container.h"
#include "imaging/cover_bitmap.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/private_bytes.h"
#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"
#include "tests/support/scaling_frame.h"

namespace {

using bench::Bytes;

using bench::MemoryReader;
using bench::Quiet;
using bench::read_file;

double now_seconds()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

// The handler's way, through the module.
bool handler_thumbnail(IClassFactory* factory, IStream* stream, SIZE* made)
{
    ComPtr<IInitializeWithStream> init;
    if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&init))) ||
        FAILED(init->Initialize(stream, STGM_READ)))
        return false;
    ComPtr<IThumbnailProvider> provider;
    if (FAILED(init.As(&provider)))
        return false;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (provider->GetThumbnail(256, &bitmap, &alpha) != S_OK)
        return false;
    BITMAP shape = {};
    GetObjectW(bitmap, sizeof(shape), &shape);
    made->cx = shape.bmWidth;
    made->cy = shape.bmHeight;
    DeleteObject(bitmap);
    return true;
}

HRESULT to_bgr32(IWICImagingFactory* factory, ComPtr<IWICBitmapSource>& source)
{
    WICPixelFormatGUID format;
    HRESULT hr = source->GetPixelFormat(&format);
    if (FAILED(hr) || IsEqualGUID(format, GUID_WICPixelFormat32bppBGR))
        return hr;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(hr = factory->CreateFormatConverter(&converter)) ||
        FAILED(hr = converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                                          nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return hr;
    source = converter;
    return S_OK;
}

// The floor: the same imaging work on the cover bytes in memory. With a
// book stream, on the cover's region of it instead, as the handler reads.
struct Region {
    IStream* book = nullptr;
    std::uint32_t offset = 0;
};

bool floor_thumbnail(IWICImagingFactory* factory, const Bytes& cover, SIZE* made, Region region = {})
{
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ULARGE_INTEGER offset, size;
    offset.QuadPart = region.offset;
    size.QuadPart = cover.size();
    if (FAILED(factory->CreateStream(&stream)) ||
        FAILED(region.book ? stream->InitializeFromIStreamRegion(region.book, offset, size)
                           : stream->InitializeFromMemory(const_cast<BYTE*>(cover.data()), DWORD(cover.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)))
        return false;
    ComPtr<IWICBitmapSource> source = frame;
    UINT width = 0, height = 0;
    if (FAILED(to_bgr32(factory, source)) || FAILED(source->GetSize(&width, &height)))
        return false;
    const PictureSize target = fit_picture(width, height, 256, 256, FitRule::shrink);
    if (target.width != width || target.height != height) {
        ComPtr<IWICBitmapScaler> scaler;
        if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
            FAILED(scaler->Initialize(source.Get(), target.width, target.height, WICBitmapInterpolationModeFant)))
            return false;
        source = scaler;
    }
    if (FAILED(to_bgr32(factory, source)))
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = LONG(target.width);
    info.bmiHeader.biHeight = -LONG(target.height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!bitmap)
        return false;
    const UINT stride = target.width * 4;
    const bool copied = SUCCEEDED(source->CopyPixels(nullptr, stride, stride * target.height, static_cast<BYTE*>(pixels)));
    DeleteObject(bitmap);
    made->cx = LONG(target.width);
    made->cy = LONG(target.height);
    return copied;
}

template <class Run>
double seconds_per_call(Run run, int calls)
{
    const double start = now_seconds();
    for (int i = 0; i < calls; ++i)
        run();
    return (now_seconds() - start) / calls;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Three rounds of make: the median time in ms and the highest peak above the
// process before each round, in MB; false when a round failed.
template <class Make>
bool huge_rounds(Make make, double* ms, double* mb)
{
    std::vector<double> times;
    SIZE_T above = 0;
    for (int round = 0; round < 3; ++round) {
        bool made = false;
        const SIZE_T before = private_kb();
        const double start = now_seconds();
        const SIZE_T peak = peak_kb_during([&] { made = make(); });
        times.push_back((now_seconds() - start) * 1e3);
        above = std::max(above, peak > before ? peak - before : 0);
        if (!made)
            return false;
    }
    *ms = median(times);
    *mb = double(above) / 1024.0;
    return true;
}

// The thumbnail at 256 of the large cover of huge_book, through Wine's decoder
// and through the tests' scaling one.
bool huge_cover_thumbnail(IClassFactory* factory, IWICImagingFactory* imaging, const wchar_t* huge_book)
{
    const Bytes file = read_file(huge_book);
    ComPtr<IStream> stream;
    *stream.GetAddressOf() = SHCreateMemStream(file.data(), UINT(file.size()));
    double wine_ms = 0, wine_mb = 0, scaling_ms = 0, scaling_mb = 0;
    SIZE made = {};
    if (!stream || !huge_rounds([&] { return handler_thumbnail(factory, stream.Get(), &made); }, &wine_ms, &wine_mb))
        return false;
    const ComPtr<IWICBitmap> picture =
        banded_picture(imaging, 6000, 9000, GUID_WICPixelFormat24bppBGR, 0x285AC8, 0xC8A028);
    if (!picture)
        return false;
    auto* own = new ScalingFrame(imaging, picture.Get(), {1, 2, 4, 8}, Rounding::up);
    const ComPtr<IWICBitmapSource> frame(own);
    own->Release();  // frame has it
    const auto scaled = [&] {
        HBITMAP bitmap = nullptr;
        const HRESULT hr = framed_picture(imaging, frame.Get(), 256, 256, FitRule::shrink, Frame{0, 0}, &bitmap);
        DeleteObject(bitmap);
        return hr == S_OK && own->full_copies == 0;
    };
    if (!huge_rounds(scaled, &scaling_ms, &scaling_mb))
        return false;
    std::printf("thumbnail at 256 of a 6000 x 9000 cover: %.0f ms, %.1f MB at the peak through Wine's decoder "
                "(whole); %.0f ms, %.1f MB through one that scales by itself\n",
                wine_ms, wine_mb, scaling_ms, scaling_mb);
    std::printf("thumbnail_huge_cover_ms_wine=%.0f\nthumbnail_huge_cover_peak_mb_wine=%.1f\n"
                "thumbnail_huge_cover_ms_scaling=%.0f\nthumbnail_huge_cover_peak_mb_scaling=%.1f\n",
                wine_ms, wine_mb, scaling_ms, scaling_mb);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    use_propsys_variant("full");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int status = 0;
    {
        ComPtr<IClassFactory> factory = qb_factory();
        ComPtr<IWICImagingFactory> imaging;
        if (!factory || FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_PPV_ARGS(&imaging)))) {
            std::printf("thumbnail: no class factory or imaging factory\n");
            return 1;
        }
        double worst = 0;
        double worst_fresh = 0;
        const wchar_t* books[] = {L"cafe-noir.mobi", L"cafe-noir-source.mobi", L"wagahai.mobi",
                                  L"small-cover.mobi", L"personal.mobi", L"kf8-only.azw3"};
        for (const wchar_t* name : books) {
            const Bytes file = read_file(source_path((std::wstring(L"tests/data/books/") + name).c_str()));
            MemoryReader reader(file);
            Quiet quiet;
            ContainerInfo info;
            if (analyze_container(reader, false, quiet, info) != BOOK_OK || info.cover_size == 0) {
                std::printf("thumbnail %ls: no cover found\n", name);
                status = 1;
                continue;
            }
            const Bytes cover(file.begin() + info.cover_offset, file.begin() + info.cover_offset + info.cover_size);
            ComPtr<IStream> stream;
            *stream.GetAddressOf() = SHCreateMemStream(file.data(), UINT(file.size()));

            SIZE by_handler = {}, by_floor = {};
            if (!stream || !handler_thumbnail(factory.Get(), stream.Get(), &by_handler) ||
                !floor_thumbnail(imaging.Get(), cover, &by_floor) || by_handler.cx != by_floor.cx ||
                std::abs(by_handler.cy) != std::abs(by_floor.cy)) {
                std::printf("thumbnail %ls: the two sides do not make the same thumbnail\n", name);
                status = 1;
                continue;
            }
            // Calls interleaved one by one, the order turned each round, so
            // that load from elsewhere on the machine falls on all sides alike.
            auto handler_run = [&] { SIZE s; handler_thumbnail(factory.Get(), stream.Get(), &s); };
            auto floor_run = [&] { SIZE s; floor_thumbnail(imaging.Get(), cover, &s); };
            // The floor with two costs of the handler's design added: a new
            // imaging factory per call, and the cover read through a region
            // of the book's stream.
            auto fresh_floor_run = [&] {
                SIZE s;
                ComPtr<IWICImagingFactory> own;
                if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_PPV_ARGS(&own))))
                    floor_thumbnail(own.Get(), cover, &s, {stream.Get(), info.cover_offset});
            };
            const double once = std::max(seconds_per_call(floor_run, 3), 1e-6);
            const int calls = std::max(15, std::min(400, int(1.0 / once)));
            std::vector<double> handler_times, floor_times, fresh_times;
            for (int i = 0; i < calls; ++i) {
                if (i % 2)
                    handler_times.push_back(seconds_per_call(handler_run, 1));
                floor_times.push_back(seconds_per_call(floor_run, 1));
                fresh_times.push_back(seconds_per_call(fresh_floor_run, 1));
                if (i % 2 == 0)
                    handler_times.push_back(seconds_per_call(handler_run, 1));
            }
            const double ratio = median(handler_times) / median(floor_times);
            const double fresh_ratio = median(handler_times) / median(fresh_times);
            worst = std::max(worst, ratio);
            worst_fresh = std::max(worst_fresh, fresh_ratio);
            std::printf("thumbnail %-22ls cover %6u bytes -> %3ld x %3ld  handler %7.3f ms  floor %7.3f ms  "
                        "ratio %.3f  (floor with a factory per call and a stream region %7.3f ms, ratio %.3f; %d calls each)\n",
                        name, info.cover_size, by_floor.cx, std::abs(by_floor.cy), median(handler_times) * 1e3,
                        median(floor_times) * 1e3, ratio, median(fresh_times) * 1e3, fresh_ratio, calls);
            std::fflush(stdout);
        }
        // The handler's fixed costs, for reading the ratios of small covers:
        // a thumbnail request on a book without a cover (handler, stream,
        // analysis, no imaging), and one imaging factory.
        {
            const Bytes file = read_file(source_path(L"tests/data/books/no-cover.mobi"));
            ComPtr<IStream> stream;
            *stream.GetAddressOf() = SHCreateMemStream(file.data(), UINT(file.size()));
            auto no_cover = [&] { SIZE s; handler_thumbnail(factory.Get(), stream.Get(), &s); };
            auto new_factory = [&] {
                ComPtr<IWICImagingFactory> own;
                CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&own));
            };
            std::vector<double> request, creation;
            for (int i = 0; i < 300; ++i) {
                request.push_back(seconds_per_call(no_cover, 1));
                creation.push_back(seconds_per_call(new_factory, 1));
            }
            std::printf("thumbnail fixed costs: request on a book without cover %.3f ms, one imaging factory %.3f ms "
                        "(the handler makes one per thumbnail)\n",
                        median(request) * 1e3, median(creation) * 1e3);
        }
        std::printf("thumbnail worst ratio against the floor with a factory per call and a stream region: %.3f\n",
                    worst_fresh);
        std::printf("thumbnail_cost_vs_floor=%.3f\n", worst);
        if (argc > 1 && (!load_imaging_component() || !huge_cover_thumbnail(factory.Get(), imaging.Get(), argv[1]))) {
            std::printf("thumbnail of %ls: failed\n", argv[1]);
            status = 1;
        }
    }
    CoUninitialize();
    return status;
}

// MobiBook: one book file given as a path or as the caller's stream. The
// container is analysed once, on the first is_valid(); every operation that
// needs bytes gets a stream from open_stream and reads only what it needs.
#include "book/mobi_book.h"

#include <shlwapi.h>

#include <utility>

#include "book/container.h"
#include "book/metadata.h"
#include "book/stream_reader.h"
#include "server/com_boundary.h"
#include "server/log.h"
#include "server/module.h"

using Microsoft::WRL::ComPtr;

namespace {

// Reports why an analysis stopped in the module's log.
class LogObserver final : public AnalysisObserver {
public:
    void not_a_mobi(int line, const char* condition) override
    {
        if (log_trace())
            debug_log("analyze:Not a MOBI:%d:(%hs)", line, condition);
    }
    void step_failed(const char* file, int line, book_status status) override
    {
        if (log_errors())
            debug_log("ENSURE failed:%hs:%d:0x%08x", file, line, static_cast<unsigned>(status));
    }
};

std::wstring decode_span(const ContainerInfo& info, const ByteSpan& span)
{
    return decode_text(info.record0.data() + span.offset, span.size, info.text_encoding);
}

}  // namespace

MobiBook::MobiBook(const wchar_t* path)
    : status(E_PENDING), file_path(path ? path : L"")
{
    trace_object(serial(), "MobiBook(filepath)");
    file_name = PathFindFileNameW(file_path.c_str());
    reset();
}

MobiBook::MobiBook(IStream* stream)
    : status(E_PENDING), stream(stream)
{
    trace_object(serial(), "MobiBook(stream)");
    reset();
}

MobiBook::~MobiBook()
{
    trace_object(serial(), "~MobiBook");
}

void MobiBook::reset()
{
    status = E_PENDING;
    is_sample = false;
    is_personal = false;
    is_encrypted = false;
    source_offset = 0;
    source_size = 0;
    cover_offset = 0;
    cover_size = 0;
}

bool MobiBook::is_valid()
{
    // S_OK and S_FALSE are final; an error is retried.
    if (FAILED(status))
        status = analyze();
    return status == S_OK;
}

HRESULT MobiBook::analyze()
{
    return guard_boundary(E_UNEXPECTED, [&]() -> HRESULT {
        ComPtr<IStream> book_stream;
        RETURN_IF_FAILED(open_stream(&book_stream));

        StreamReader reader(book_stream.Get());
        LogObserver observer;
        ContainerInfo info;
        const book_status result =
            analyze_container(reader, g_module.use_mobi_thumbnail != 0, observer, info);
        if (result != BOOK_OK)
            return result;

        created_date.clear();
        if (info.creation_time != 0)
            created_date = format_creation_date(info.creation_time);
        is_encrypted = info.is_encrypted;
        title = decode_span(info, info.title);
        language = language_name(info.locale);
        right_to_left = info.has_language
                            ? written_right_to_left(info.locale, info.record0.data() + info.language.offset,
                                                    info.language.size)
                            : written_right_to_left(info.locale, nullptr, 0);

        // Without an EXTH block the lists and the creator stay as they are;
        // the other EXTH fields change only when their records are met.
        if (info.has_exth) {
            std::vector<std::wstring> names;
            for (const ByteSpan& span : info.authors)
                names.push_back(decode_span(info, span));
            authors.swap(names);
            names.clear();
            for (const ByteSpan& span : info.contributors)
                names.push_back(decode_span(info, span));
            contributors.swap(names);
            creator = join_creators(authors, contributors);
        }
        if (info.has_publisher)
            publisher = decode_span(info, info.publisher);
        if (info.has_published)
            published_date = parse_exth_date(info.record0.data() + info.published.offset,
                                             info.published.size);
        if (info.is_sample)
            is_sample = true;
        if (info.has_document_type)
            is_personal = info.is_personal;

        cover_offset = info.cover_offset;
        cover_size = info.cover_size;
        source_offset = info.source_offset;
        source_size = info.source_size;
        container = std::move(info);
        return S_OK;
    });
}

HRESULT MobiBook::open_stream(IStream** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (stream) {
        stream.CopyTo(out);
        return S_OK;
    }
    ENSURE(SHCreateStreamOnFileW(file_path.c_str(), STGM_READ, out));
    return S_OK;
}

HRESULT MobiBook::copy_source(IStream* destination)
{
    if (!destination)
        return E_POINTER;
    if (source_size == 0)
        return E_INVALIDARG;

    ComPtr<IStream> book_stream;
    RETURN_IF_FAILED(open_stream(&book_stream));
    LARGE_INTEGER offset;
    offset.QuadPart = source_offset;
    ENSURE(book_stream->Seek(offset, STREAM_SEEK_SET, nullptr));
    ULARGE_INTEGER size, read, written;
    size.QuadPart = source_size;
    // The counts are not used, but some file streams (Wine's) write them
    // without checking for null.
    ENSURE(book_stream->CopyTo(destination, size, &read, &written));
    return S_OK;
}

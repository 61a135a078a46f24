#include "book/stream_reader.h"

#include <shlwapi.h>

book_status StreamReader::size(std::uint64_t& bytes)
{
    STATSTG statstg = {};
    const HRESULT hr = stream_->Stat(&statstg, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    bytes = statstg.cbSize.QuadPart;
    return S_OK;
}

book_status StreamReader::seek(std::uint32_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = offset;
    const HRESULT hr = stream_->Seek(position, STREAM_SEEK_SET, nullptr);
    return FAILED(hr) ? hr : S_OK;
}

book_status StreamReader::read(std::uint8_t* buffer, std::uint32_t count)
{
    const HRESULT hr = IStream_Read(stream_, buffer, count);
    return FAILED(hr) ? hr : S_OK;
}

// One MOBI book file, given as a path or as an open stream. Nothing is read
// at construction; the container is analysed on the first is_valid().
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "book/container.h"
#include "server/unknown.h"

class MobiBook : public CUnknown {
public:
    explicit MobiBook(const wchar_t* path);
    explicit MobiBook(IStream* stream);
    ~MobiBook() override;

    // True once the book was analysed and accepted. A rejection is final;
    // an error (stream, memory) is retried on the next call.
    bool is_valid();

    // The book's bytes: the caller's stream (one more reference), or a new
    // read-only stream on file_path.
    HRESULT open_stream(IStream** out);

    // Copies the embedded source archive into destination.
    HRESULT copy_source(IStream* destination);

    // Decodes the first frame of the cover image record, with the caller's
    // imaging factory or, without one, a new one.
    HRESULT get_cover_image(IWICBitmapSource** out, IWICImagingFactory* factory = nullptr);

    HRESULT status;
    std::wstring file_path;
    Microsoft::WRL::ComPtr<IStream> stream;
    bool is_sample;
    bool is_personal;
    bool is_encrypted;
    std::wstring file_name;
    std::wstring title;
    std::wstring creator;
    std::wstring publisher;
    std::wstring created_date;
    std::wstring published_date;
    std::wstring language;
    bool right_to_left = false;  // the book's language is written right to left
    std::vector<std::wstring> authors;
    std::vector<std::wstring> contributors;
    DWORD source_offset;
    DWORD source_size;
    DWORD cover_offset;
    DWORD cover_size;
    // The analysis the fields come from (record 0's bytes among it), for
    // the readers of the book's text and description.
    ContainerInfo container;

private:
    void reset();
    HRESULT analyze();
};

// A new book on a path or a stream, owned by the reference returned: books
// are held by ComPtr<MobiBook> wherever they are kept.
template <class Source>
Microsoft::WRL::ComPtr<MobiBook> new_book(Source source)
{
    Microsoft::WRL::ComPtr<MobiBook> book;
    *book.GetAddressOf() = new MobiBook(source);  // its first reference
    return book;
}

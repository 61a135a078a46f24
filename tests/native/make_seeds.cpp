// Fills a fresh fuzzing corpus folder: books made by MobiBuilder (accepted
// ones with every feature, one just past each check, and the crafted books
// that cost the text reader the most), the fixture books and the regression
// inputs.
//   make_seeds OUT_DIR BOOKS_DIR [REGRESSIONS_DIR]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/crafted_books.h"
#include "tests/support/mobi_builder.h"

using namespace mobi_test;
namespace fs = std::filesystem;

namespace {

MobiBuilder full_book()
{
    MobiBuilder b;
    b.exth(100, "First Author").exth(100, "Second Author").exth(108, "Contributor");
    b.exth(101, "Publisher").exth(106, "2010-05-03T00:00:00+00:00").exth(501, "PDOC");
    b.exth_u32(201, 0).exth_u32(202, 1).exth(115, Bytes{});
    b.add_text(600);
    b.add_text(300);
    b.add_image(image_bytes(JPEG_JFIF, 300));
    b.add_image(image_bytes(PNG, 100));
    b.add_srcs(zip_bytes(64));
    b.add_record({0xE9, 0x8E, 0x0D, 0x0A});
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_seeds OUT_DIR BOOKS_DIR [REGRESSIONS_DIR]\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::remove_all(out);
    fs::create_directories(out);
    int n = 0;
    auto write = [&](const Bytes& bytes) {
        std::ofstream(out / ("built-" + std::to_string(n++)), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    auto edited = [&](void (*edit)(MobiBuilder&)) {
        MobiBuilder b = full_book();
        edit(b);
        write(b.build().bytes);
    };

    write(full_book().build().bytes);
    edited([](MobiBuilder& b) { b.exth_block = false; });
    edited([](MobiBuilder& b) { b.exth_u32(201, 0xFFFFFFFE); });
    edited([](MobiBuilder& b) { b.exth_u32(201, 9); });
    edited([](MobiBuilder& b) { b.exth_count = 20; });
    edited([](MobiBuilder& b) { b.exth(100, "x", 7); });
    edited([](MobiBuilder& b) { b.exth_length = 8; });
    edited([](MobiBuilder& b) { b.record0_size = 256, b.mobi_header_length = 128, b.exth_block = false; });
    edited([](MobiBuilder& b) { b.record0_size = 300, b.mobi_header_length = 284, b.title_off = 300, b.title_len = 0; });
    edited([](MobiBuilder& b) { b.mobi_header_length = 127; });
    edited([](MobiBuilder& b) { b.title_len = 0xFFFFFFFF; });
    edited([](MobiBuilder& b) { b.image_record_base = 7; });
    edited([](MobiBuilder& b) { b.image_record_base = 0, b.first_non_book_record = 0; });
    edited([](MobiBuilder& b) { b.reserved = 1; });
    edited([](MobiBuilder& b) { b.record_count = 1; });
    edited([](MobiBuilder& b) { b.exth_block = false, b.image_record_base = std::uint32_t(b.add_image({0xFF, 0xD8})); });
    {
        MobiBuilder b;
        b.add_text(10);
        b.add_image(image_bytes(GIF, 30));
        write(b.build().bytes);
    }

    // Books with text for the text reader: every compression, both code
    // pages, records cut inside markup and sequences, trailing entries.
    const std::string markup =
        "<html><head><style>p{x:y}</style></head><body><h1>T\xC3\xADtulo</h1><p>One &amp; two &#x263A; "
        "<b>th</b>ree\xE2\x80\x94 four\xF0\x9F\x98\x80</p><!-- c --><script>a<b</script><br/>five</body></html>";
    for (std::uint16_t compression : {1, 2, 17480})
        for (const TextLayout& layout : {TextLayout{7, true, 2, 6}, TextLayout{4096, false, 1}}) {
            MobiBuilder b;
            b.compression = compression;
            b.text_encoding = layout.multibyte ? 65001 : 1252;
            b.add_book_text(bytes_of(markup), layout);
            write(b.build().bytes);
        }

    // Books made to cost the most work per byte, one shape per loop, within
    // the fuzz runs' input size.
    for (const CraftedBook& crafted : crafted_books(48 * 1024))
        if (crafted.bytes.size() <= 65536)
            write(crafted.bytes);

    for (int i = 2; i < argc; ++i)
        if (fs::is_directory(argv[i]))
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.path().extension() != ".json")
                    fs::copy_file(entry.path(), out / entry.path().filename());
    return 0;
}

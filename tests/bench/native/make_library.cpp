// Writes a library of built books for the folder benchmark of tools/bench.sh:
//
//   qb_make_library FOLDER COUNT
//
// COUNT books in 20 subfolders of FOLDER, named book-NNNN with .mobi, .azw3
// or .azw in turn. Sizes are mixed: from 1 to 400 text records of 4 KiB,
// drawn log-uniformly (most books small, some over a megabyte), each with a
// title, an author, a publisher, a date and a cover record of 8 to 64 KiB.
// Every tenth book is not one: it is cut inside its record list, or its
// record 0 says "MOBX" where "MOBI" belongs. The same COUNT makes the same
// files. Prints the bytes written.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "tests/support/mobi_builder.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qb_make_library FOLDER COUNT\n");
        return 2;
    }
    const std::string folder = argv[1];
    const long count = std::atol(argv[2]);
    static const char* const EXTENSIONS[] = {".mobi", ".azw3", ".azw"};
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return (state * 0x2545F4914F6CDD1Dull) >> 11;
    };
    auto uniform = [&next] { return double(next()) / double(1ull << 53); };

    mkdir(folder.c_str(), 0755);
    unsigned long long total = 0;
    for (long i = 0; i < count; ++i) {
        const std::string inner = folder + "/shelf-" + std::to_string(i % 20);
        mkdir(inner.c_str(), 0755);
        mobi_test::MobiBuilder builder;
        builder.title = "Book " + std::to_string(i);
        builder.exth(100, "Author " + std::to_string(i % 97));
        builder.exth(101, "Publisher " + std::to_string(i % 13));
        builder.exth(106, "2019-05-" + std::to_string(10 + i % 18));
        const long records = std::lround(std::exp(uniform() * std::log(400.0)));
        for (long r = 0; r < records; ++r)
            builder.add_text(4096);
        builder.add_image(mobi_test::image_bytes(mobi_test::JPEG_JFIF, 8192 + std::size_t(next() % 57344)));
        builder.exth_u32(201, 0);  // cover: the first image record
        if (i % 10 == 9 && i % 20 == 19)
            builder.mobi_magic = "MOBX";
        mobi_test::MobiFile file = builder.build();
        if (i % 20 == 9)
            file.bytes.resize(100);  // inside the record list
        char name[32];
        std::snprintf(name, sizeof name, "/book-%04ld%s", i, EXTENSIONS[i % 3]);
        std::ofstream out(inner + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.bytes.data()), std::streamsize(file.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s%s\n", inner.c_str(), name);
            return 1;
        }
        total += file.bytes.size();
    }
    std::printf("%llu\n", total);
    return 0;
}

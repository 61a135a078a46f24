// libFuzzer target: the container analysis over arbitrary bytes, with the
// cover preference both ways. An accepted input must keep the promises of
// broken_invariant; reports must match the result.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (bool prefer_thumbnail : {false, true}) {
        MemoryReader reader(data, size);
        RecordingObserver seen;
        ContainerInfo info;
        const book_status status = analyze_container(reader, prefer_thumbnail, seen, info);
        fuzz_check(seen.rejections == (status == BOOK_NOT_MOBI ? 1 : 0), "rejection report");
        fuzz_check(seen.failures == (status < 0 ? 1 : 0), "failure report");
        // Only the image probe may run past the end: a first image record
        // of fewer than 4 bytes at the end of the file.
        fuzz_check(status >= 0 || (status == BOOK_E_FAIL && reader.reads.back().count == 4), "status");
        if (status == BOOK_OK) {
            const std::string broken = broken_invariant(info, size);
            fuzz_check(broken.empty(), broken.c_str());
        }
    }
    return 0;
}

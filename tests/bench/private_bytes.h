// Private bytes of this process, as the soak samples them, and their peak
// while some work runs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

// Committed memory of this process alone, in KiB. Wine answers 0 for the
// PrivateUsage counter; there the committed private regions of the address
// space are added up, which is what that counter counts.
SIZE_T private_kb();

// The highest private bytes of the process while work runs, in KiB,
// sampled every millisecond by a second thread.
template <class Work>
SIZE_T peak_kb_during(Work work)
{
    std::atomic<bool> done{false};
    std::atomic<SIZE_T> peak{private_kb()};
    std::thread sampler([&] {
        while (!done) {
            const SIZE_T now = private_kb();
            if (now > peak)
                peak = now;
            Sleep(1);
        }
    });
    work();
    done = true;
    sampler.join();
    return std::max(peak.load(), private_kb());
}

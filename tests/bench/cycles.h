// The request cycles the soak and the mutation run send through the module,
// each as a shell host makes them: a new handler per request, initialised,
// asked, released.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

// What one cycle came to.
enum class CycleResult {
    Made,     // a thumbnail was made, properties were read, the page was shown
    Refused,  // the handler answered with a failure or without a result
    Skipped,  // the module has no property page (AddPages answers E_NOTIMPL)
    Broken,   // the handler broke a promise (see the cycle's note)
};

const char* cycle_result_name(CycleResult result);

// GetThumbnail(256) through IInitializeWithStream on stream; the bitmap is
// checked (a top-down 32-bit DIB section no larger than 256 x 256) and
// deleted. Broken: S_OK without a usable bitmap, or a bitmap with a failure.
CycleResult thumbnail_cycle(IStream* stream);

// GetLocation into a box of 100 x 60 without the aspect flags, then Extract,
// through IInitializeWithFile on path. Broken: a made bitmap not 100 x 60.
CycleResult extract_cycle(const std::wstring& path);

// IPropertyStore through IInitializeWithFile on path: GetCount, every key
// and value, SetValue refused. Broken: a write accepted, or a count with no
// key behind it.
CycleResult property_store_cycle(const std::wstring& path);

// IPropertySetStorage through IInitializeWithFile on path: Open of the
// summary set read-only and of every enumerated set, each read with
// ReadMultiple. Broken: a write mode accepted.
CycleResult property_set_cycle(const std::wstring& path);

// The property page: a handler initialised through IShellExtInit with the
// files, its pages hosted in a modeless property sheet (on the calling
// thread; needs a display), each book shown in turn by the file-name
// up-down control, forward to the last and back to the first, then the
// sheet destroyed. Skipped while AddPages answers E_NOTIMPL.
CycleResult page_cycle(const std::vector<std::wstring>& paths);

// The property page in a property sheet that stays open: each cycle adds
// the page of a new handler initialised with the files to the sheet, shows
// it, steps through the books as page_cycle does and removes the page
// again, which destroys it. Cheaper than a new sheet per cycle (under Wine
// most of page_cycle's time goes to the sheet's own top-level window), so
// that every input of the mutation run can go through the page.
class PageHost {
public:
    PageHost();
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    CycleResult cycle(const std::vector<std::wstring>& paths);

private:
    HWND sheet_ = nullptr;
};

// Runs the messages waiting on this thread's queue.
void pump_messages();

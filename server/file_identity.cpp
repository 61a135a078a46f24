#include "server/file_identity.h"

#include "server/unique_handle.h"

namespace {

// Volume serial number and file index of an existing file or folder.
bool file_identity(const wchar_t* path, BY_HANDLE_FILE_INFORMATION& info)
{
    const UniqueFile file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &info) != FALSE;
}

}  // namespace

bool same_file(const wchar_t* first, const wchar_t* second)
{
    BY_HANDLE_FILE_INFORMATION one = {}, other = {};
    return first && second && *first && *second && file_identity(first, one) &&
           file_identity(second, other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

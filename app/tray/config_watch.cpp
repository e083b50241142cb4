// The config file's watcher.
#include "config_watch.h"

namespace {

FileStamp Stamp(const std::wstring &path)
{
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        stamp.written = data.ftLastWriteTime;
    }
    return stamp;
}

bool Same(const FileStamp &a, const FileStamp &b)
{
    return a.exists == b.exists && a.size == b.size && CompareFileTime(&a.written, &b.written) == 0;
}

}  // namespace

bool WatchConfig(ConfigWatch *watch, const std::wstring &path, bool make)
{
    size_t slash = path.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    if (make)
        CreateDirectoryW(folder.c_str(), nullptr);
    watch->path = path;
    watch->seen = Stamp(path);
    watch->folder.Reset(FindFirstChangeNotificationW(
        folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE));
    return watch->folder.h != nullptr;
}

WatchNews FolderChanged(ConfigWatch *watch, DWORD *error)
{
    // A watch that cannot be renewed stays signalled: waiting on it again would spin.
    if (!FindNextChangeNotification(watch->folder.h)) {
        *error = GetLastError();
        watch->folder.Reset();
        return WATCH_BROKEN;
    }
    FileStamp now = Stamp(watch->path);
    if (Same(now, watch->seen))
        return WATCH_NOTHING;
    watch->seen = now;
    return WATCH_CHANGED;
}

bool ConfigQuiet(ConfigWatch *watch)
{
    FileStamp now = Stamp(watch->path);
    bool quiet = Same(now, watch->seen);
    watch->seen = now;
    if (!quiet || !now.exists)
        return quiet;
    // An editor that holds the file open without sharing is not done with it.
    Handle file(CreateFileW(watch->path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.h != nullptr || GetLastError() != ERROR_SHARING_VIOLATION;
}

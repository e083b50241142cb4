// Owners of Windows handles and COM interfaces: each closes or releases what it holds,
// and none can be copied.
#ifndef GEARVANE_TRAY_HANDLES_H
#define GEARVANE_TRAY_HANDLES_H

#include <windows.h>

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { Reset(); }
    void Reset(HANDLE handle = nullptr)
    {
        if (h)
            CloseHandle(h);
        h = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
};

// A folder watched for changes (FindFirstChangeNotificationW), which has a close of its own.
struct FolderWatch {
    HANDLE h = nullptr;
    FolderWatch() = default;
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;
    ~FolderWatch() { Reset(); }
    void Reset(HANDLE handle = nullptr)
    {
        if (h)
            FindCloseChangeNotification(h);
        h = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
};

template <typename T> struct Com {
    T *p = nullptr;
    Com() = default;
    Com(const Com &) = delete;
    Com &operator=(const Com &) = delete;
    ~Com() { Reset(); }
    void Reset()
    {
        if (p)
            p->Release();
        p = nullptr;
    }
    T *operator->() const { return p; }
};

#endif

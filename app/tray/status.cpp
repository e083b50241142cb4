// Status lines.
#include "status.h"

#include <stdio.h>

#include "text.h"

namespace {

HANDLE OpenForAppending(const std::wstring &path, DWORD disposition)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The old lines go to FILE.old and the file starts again, empty.
void StartAgain(StatusLog *log)
{
    log->file.Reset();
    std::wstring old = log->path + L".old";
    bool kept = MoveFileExW(log->path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
    log->file.Reset(OpenForAppending(log->path, kept ? OPEN_ALWAYS : CREATE_ALWAYS));
    log->size = 0;
}

// "2025-06-01 14:03:07.123 ", local time.
std::string Stamp()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, t.wMilliseconds);
    return text;
}

}  // namespace

bool OpenStatusLog(StatusLog *log, const std::wstring &path, std::string *error)
{
    log->path = path;
    log->file.Reset(OpenForAppending(path, OPEN_ALWAYS));
    LARGE_INTEGER size;
    if (log->file.h && GetFileType(log->file.h) == FILE_TYPE_DISK && GetFileSizeEx(log->file.h, &size)) {
        log->size = size.QuadPart;
        return true;
    }
    DWORD code = log->file.h ? ERROR_BAD_FILE_TYPE : GetLastError();
    log->file.Reset();
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string reason = text ? Utf8(text) : "error " + std::to_string(code);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    *error = "--log: " + Utf8(path) + ": cannot be written (" + reason + ")";
    return false;
}

void AddStatusLine(StatusLog *log, const std::string &line, bool failure)
{
    log->lines[log->next] = line;
    log->next = (log->next + 1) % STATUS_LINES;
    if (log->count < STATUS_LINES)
        log->count++;
    if (!log->file.h || (log->quiet && !failure))
        return;
    std::string out = Stamp() + line + "\r\n";
    if (log->size > 0 && log->size + static_cast<int64_t>(out.size()) > log->limit)
        StartAgain(log);
    DWORD written = 0;
    if (log->file.h && WriteFile(log->file.h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr))
        log->size += written;
}

std::wstring StatusText(const StatusLog &log)
{
    std::string text;
    for (int i = 0; i < log.count; i++) {
        if (i)
            text += "\r\n";
        text += log.lines[(log.next - log.count + i + STATUS_LINES) % STATUS_LINES];
    }
    return Wide(text);
}

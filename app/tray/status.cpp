// Status lines.
#include "status.h"

#include "text.h"

bool OpenStatusLog(StatusLog *log, const std::wstring &path, std::string *error)
{
    log->file.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log->file.h && GetFileType(log->file.h) == FILE_TYPE_DISK)
        return true;
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
    std::string out = line + "\n";
    DWORD written;
    WriteFile(log->file.h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
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

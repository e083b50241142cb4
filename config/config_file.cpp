// Reading and rewriting the config file on Linux.
#include "config_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text.h"

namespace {

const char *FileKind(mode_t mode)
{
    return S_ISDIR(mode)    ? "a directory"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
                            : "not a regular file";
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file that `path` leads to through its symbolic links, whether or not it exists; false
// when the links go round in a loop.
bool FollowLinks(const std::string &path, std::string *target)
{
    *target = path;
    for (int links = 0; links < 40; links++) {
        char to[PATH_MAX];
        ssize_t n = readlink(target->c_str(), to, sizeof to - 1);
        if (n < 0)
            return true;
        to[n] = '\0';
        *target = to[0] == '/' ? to : FolderOf(*target) + "/" + to;
    }
    return false;
}

bool WriteAll(int fd, const std::string &text)
{
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? n : 0;
    }
    return true;
}

// Whether `text` is a config file that gearvane takes, else why not in *error.
bool Valid(const std::string &text, const std::string &name, const KeyLookup &keys, std::string *error)
{
    std::vector<SettingValue> values;
    Settings settings;
    return ReadConfigText(text, name, &values, error) && JoinSettings({}, values, keys, &settings, error);
}

}  // namespace

int ReadConfigFile(const std::string &path, std::string *text, std::string *error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return ENOENT;
        *error = path + ": " + strerror(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": " + FileKind(st.st_mode) + ", not a config file";
        return -1;
    }
    const std::string tooLarge = path + ": larger than 64 KiB, so not a config file";
    if (st.st_size > CONFIG_MAX_BYTES) {
        *error = tooLarge;
        return -1;
    }
    // Non-blocking, in case the file was swapped for a FIFO since the check.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return -1;
    }
    static char buffer[CONFIG_MAX_BYTES + 1];
    size_t size = 0;
    ssize_t n = 0;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (regular && size < sizeof buffer &&
           ((n = read(fd, buffer + size, sizeof buffer - size)) > 0 || (n < 0 && errno == EINTR)))
        size += n > 0 ? n : 0;
    int readError = n < 0 ? errno : 0;
    close(fd);
    if (!regular)
        *error = path + ": not a regular file, not a config file";
    else if (readError)
        *error = path + ": " + strerror(readError);
    else if (size > CONFIG_MAX_BYTES)
        *error = tooLarge;
    else {
        text->assign(buffer, size);
        return 0;
    }
    return -1;
}

bool WriteConfigFile(const std::string &path, const std::string &text, std::string *error)
{
    // Through a symbolic link, as dotfile managers keep the file, the file it leads to.
    std::string target;
    if (!FollowLinks(path, &target)) {
        *error = path + ": " + strerror(ELOOP);
        return false;
    }
    std::string folder = FolderOf(target);
    // ~/.config/gearvane may not exist yet.
    for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
        mkdir(folder.substr(0, slash).c_str(), 0777);
    mkdir(folder.c_str(), 0777);

    struct stat old;
    mode_t mode;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;  // a user may keep it private
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // A name of its own, made with O_EXCL: a link planted there is never followed, and two
    // writers at once never share a file.
    std::string temporary = folder + "/." + target.substr(target.rfind('/') + 1) + ".XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot write in " + folder + ": " + strerror(errno);
        return false;
    }
    // Flushed before the rename, which may reach the disk before the data it names.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        *error = target + ": " + strerror(saved);
        return false;
    }
    // The rename itself is kept by the folder.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = dir >= 0 && fsync(dir) == 0;
    saved = errno;
    if (dir >= 0)
        close(dir);
    if (!ok)
        *error = "written, but " + folder + " may not keep it: " + strerror(saved);
    return ok;
}

bool SaveLearned(const std::string &path, const std::vector<std::pair<std::string, std::string>> &learned,
                 const KeyLookup &keys, std::string *error)
{
    for (const auto &kv : learned)
        if (HasControl(kv.second)) {
            *error = "the lever's " + kv.first + " holds a control character, which a config file cannot hold";
            return false;
        }
    std::string text;
    int rc = ReadConfigFile(path, &text, error);
    if (rc != 0 && rc != ENOENT)
        return false;
    std::string rewritten = RewriteConfig(text, learned), wrong;
    // A file that is wrong only in the lines learned is mended; any other fault is the
    // user's to mend, and is named as the file has it.
    if (!Valid(rewritten, path, keys, &wrong)) {
        if (Valid(text, path, keys, error))
            *error = wrong;
        return false;
    }
    return WriteConfigFile(path, rewritten, error);
}

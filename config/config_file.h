// The config file on a POSIX disk: read without ever blocking, and rewritten so that no
// failure, crash or second writer leaves it half written, and no planted link is followed.
#ifndef GEARVANE_CONFIG_FILE_H
#define GEARVANE_CONFIG_FILE_H

#include <string>
#include <utility>
#include <vector>

#include "settings.h"

// Reads a config file of at most CONFIG_MAX_BYTES into *text without ever blocking: a
// directory, a device or a FIFO is refused before it is opened. Returns 0, ENOENT when
// there is no such file, or -1 with the reason in *error.
int ReadConfigFile(const std::string &path, std::string *text, std::string *error);

// Replaces the file at `path` with `text`: a new file of its own in the same folder
// (mkstemp), flushed to the disk, renamed over the old one, and the folder flushed. Through
// a symbolic link, even one whose file does not exist yet, the file it leads to is written.
// Missing folders are made. The file keeps its permissions; a new one gets what the umask
// allows. False with the reason, naming the file or the folder at fault, in *error.
bool WriteConfigFile(const std::string &path, const std::string &text, std::string *error);

// Sets `learned` (as LearnedSettings gives it) in the config file at `path`, which may not
// exist yet, keeping its other lines. Writes only what reads back as a whole, valid config
// file, with `keys` resolving the key names: a value that no config file can hold (a control
// character) or a wrong line that the learned ones do not replace leaves the file as it was,
// and *error says why.
bool SaveLearned(const std::string &path, const std::vector<std::pair<std::string, std::string>> &learned,
                 const KeyLookup &keys, std::string *error);

#endif

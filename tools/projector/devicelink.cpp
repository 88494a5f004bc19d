#include "tools/projector/devicelink.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

DeviceLink::DeviceLink(std::string path)
    : path(std::move(path))
{ }

DeviceLink::~DeviceLink() { remove(); }

bool DeviceLink::point(const std::string &to, std::string *error)
{
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        *error = "'" + path + "' exists and is not a symbolic link";
        return false;
    }
    // Made beside the link and renamed over it, so whoever opens the name never finds it missing.
    const std::string fresh = path + ".new-" + std::to_string(getpid());
    unlink(fresh.c_str());
    if (symlink(to.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), path.c_str()) != 0) {
        *error = "cannot link '" + path + "' to '" + to + "': " + std::strerror(errno);
        unlink(fresh.c_str());
        return false;
    }
    target = to;
    return true;
}

void DeviceLink::remove()
{
    if (target.empty())
        return;
    char now[4096];
    const ssize_t n = readlink(path.c_str(), now, sizeof now);
    if (n >= 0 && std::string(now, size_t(n)) == target)
        unlink(path.c_str());
    target.clear();
}

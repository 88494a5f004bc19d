#pragma once

#include <string>

// A stable name for the projector's terminal, as /dev/serial/by-id names a real adapter: a symbolic
// link that follows the terminal across replugs and is gone while the device is unplugged.
class DeviceLink
{
public:
    explicit DeviceLink(std::string path);
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Points the link at `target` in one step, replacing a stale link but never another kind of file.
    // False with `error` saying why.
    bool point(const std::string &target, std::string *error);
    // Removes the link if it is still the one this process made.
    void remove();

private:
    std::string path;
    std::string target; // empty while the link is not there
};

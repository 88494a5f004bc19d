#include "tools/projector/eventlog.h"

#include "core/text.h"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

bool EventLog::open(const std::string &path)
{
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return fd >= 0;
}

void EventLog::event(int64_t t, const char *name, const std::string &data)
{
    if (fd < 0)
        return;
    std::string line = std::to_string(t) + " " + name;
    if (!data.empty())
        line += " " + data;
    line += "\n";
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
}

std::string escaped(const std::string &bytes)
{
    return text::escapeBytes(QByteArray::fromStdString(bytes)).toStdString();
}

int64_t nowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

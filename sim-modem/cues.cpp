// Cues: lines that a guest writes on a serial port of its own, which QEMU
// hands to a unix socket, to say that it is ready for the script's next
// step. So a slow guest sets the pace of the plugs and unplugs, not the
// host's clock.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "cues.h"

bool unix_listen(const char *path, int &fd, std::string &error)
{
    struct sockaddr_un a {};
    a.sun_family = AF_UNIX;
    size_t length = strlen(path);
    if (length >= sizeof a.sun_path) {
        error = std::string("socket path too long: ") + path;
        return false;
    }
    memcpy(a.sun_path, path, length + 1);
    unlink(path);
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
        error = std::string("cannot listen on ") + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool cues_listen(cue_channel &c, const char *path, std::string &error)
{
    c.path = path;
    return unix_listen(path, c.listener, error);
}

int cues_poll_fd(const cue_channel &c)
{
    return c.peer >= 0 ? c.peer : c.listener;
}

size_t cues_take(cue_channel &c)
{
    if (c.peer < 0 && !c.ended && c.listener >= 0)
        c.peer = accept4(c.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    size_t lines = 0;
    char buf[256];
    while (c.peer >= 0) {
        ssize_t n = read(c.peer, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) { // QEMU has gone: no more cues will come
            close(c.peer);
            c.peer = -1;
            c.ended = true;
            break;
        }
        lines += static_cast<size_t>(std::count(buf, buf + n, '\n'));
    }
    return lines;
}

void cues_close(cue_channel &c)
{
    if (c.peer >= 0)
        close(c.peer);
    if (c.listener >= 0) {
        close(c.listener);
        unlink(c.path.c_str());
    }
    c.peer = c.listener = -1;
}

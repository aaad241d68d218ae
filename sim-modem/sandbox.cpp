// A private /dev for the simulated modem and the command it serves. Nothing
// done here is visible outside this process and its children, so tests can
// put a modem at /dev/ttyACM2 on a machine that has a real one there.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_modem.h"

namespace {

constexpr const char *kept_nodes[] = {"null", "zero", "full", "random", "urandom", "tty"};

bool fail(std::string &error, const std::string &what)
{
    error = what + ": " + strerror(errno);
    return false;
}

bool write_file(const char *path, const std::string &text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Root may simply unshare; anyone else needs a user namespace in which to
// be root, where the kernel allows one.
bool private_namespace(std::string &error)
{
    if (unshare(CLONE_NEWNS) == 0)
        return true;
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return fail(error, "cannot make a private mount namespace (needs root, or user namespaces)");
    if (!write_file("/proc/self/setgroups", "deny") ||
        !write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return fail(error, "cannot map the user into the new user namespace");
    return true;
}

bool bind_back(const char *name, int node_fd, std::string &error)
{
    std::string target = std::string("/dev/") + name;
    int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(error, "cannot make " + target);
    close(fd);
    std::string source = "/proc/self/fd/" + std::to_string(node_fd);
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return fail(error, "cannot bind " + target + " back");
    return true;
}

bool build_dev(std::string &error)
{
    int nodes[sizeof kept_nodes / sizeof *kept_nodes];
    for (size_t i = 0; i < sizeof kept_nodes / sizeof *kept_nodes; i++)
        nodes[i] = open((std::string("/dev/") + kept_nodes[i]).c_str(), O_PATH | O_CLOEXEC);

    if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=1m") != 0)
        return fail(error, "cannot mount a tmpfs on /dev");
    bool ok = true;
    for (size_t i = 0; i < sizeof kept_nodes / sizeof *kept_nodes; i++) {
        if (nodes[i] >= 0) {
            ok = ok && bind_back(kept_nodes[i], nodes[i], error);
            close(nodes[i]);
        }
    }
    if (!ok)
        return false;

    if (mkdir("/dev/pts", 0755) != 0 ||
        mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC,
              "newinstance,ptmxmode=0666,mode=0620") != 0)
        return fail(error, "cannot mount a private devpts on /dev/pts");
    if (symlink("pts/ptmx", "/dev/ptmx") != 0)
        return fail(error, "cannot link /dev/ptmx");
    if (mkdir("/dev/shm", 01777) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        return fail(error, "cannot mount /dev/shm");
    const char *const links[][2] = {{"/proc/self/fd", "/dev/fd"},
                                    {"/proc/self/fd/0", "/dev/stdin"},
                                    {"/proc/self/fd/1", "/dev/stdout"},
                                    {"/proc/self/fd/2", "/dev/stderr"}};
    for (const auto &l : links)
        if (symlink(l[0], l[1]) != 0)
            return fail(error, std::string("cannot link ") + l[1]);
    return true;
}

} // namespace

bool sandbox_enter(const char *device, std::string &error)
{
    if (strncmp(device, "/dev/", 5) != 0 || strstr(device, "/../")) {
        errno = EINVAL;
        return fail(error, std::string("the device must be a path under /dev/, not ") + device);
    }
    if (!private_namespace(error))
        return false;
    // Without this a shared root would carry the new /dev back to the machine.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail(error, "cannot make the mounts private");
    return build_dev(error);
}

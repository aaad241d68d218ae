#include "tool_run.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

#include "wait_status.h"

namespace {

double now_s()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::map<std::string, std::string> read_record(const char *path)
{
    std::map<std::string, std::string> facts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t space = line.find(' ');
        if (space != std::string::npos)
            facts[line.substr(0, space)] = line.substr(space + 1);
    }
    return facts;
}

void become(uid_t user)
{
    if (user == 0 || getuid() != 0)
        return;
    gid_t group = static_cast<gid_t>(user);
    if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
        setresuid(user, user, user) != 0)
        _exit(126);
}

// The tool is the simulated modem's only child.
void terminate_children(pid_t parent)
{
    std::string path = "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    std::ifstream in(path);
    for (pid_t child; in >> child;)
        kill(child, SIGTERM);
}

struct sink {
    int fd;
    std::string *text;
    size_t close_after = 0; // when not 0: close fd once this much has come
};

// Drains the pipes until they close or the deadline passes, and closes them;
// at terminate_at (when not 0) the tool is sent SIGTERM.
bool collect(std::vector<sink> sinks, pid_t sim, double terminate_at, double deadline)
{
    std::vector<struct pollfd> fds;
    for (const sink &s : sinks)
        fds.push_back({s.fd, POLLIN, 0});
    size_t open_pipes = fds.size();
    bool in_time = true;
    while (open_pipes > 0) {
        double now = now_s();
        if (terminate_at > 0 && now >= terminate_at) {
            terminate_children(sim);
            terminate_at = 0;
        }
        double until = terminate_at > 0 ? terminate_at : deadline;
        if (now >= deadline) {
            in_time = false;
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>((until - now) * 1000) + 1) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[8192];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                sinks[i].text->append(buf, static_cast<size_t>(n));
            if (n <= 0 || (sinks[i].close_after && sinks[i].text->size() >= sinks[i].close_after)) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_pipes--;
            }
        }
    }
    for (struct pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    return in_time;
}

// A pseudo-terminal, as a console: ends[0] the master, ends[1] the terminal.
bool console(int ends[2])
{
    ends[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name = ends[0] >= 0 && grantpt(ends[0]) == 0 && unlockpt(ends[0]) == 0 ? ptsname(ends[0]) : nullptr;
    ends[1] = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    return ends[1] >= 0;
}

// The tool under test: the host build, or the command (words separated by
// spaces, such as an emulator and a cross-built tool) in MODEM_DIALMODE_TOOL.
std::vector<std::string> tool_command()
{
    const char *from_env = getenv("MODEM_DIALMODE_TOOL");
    std::string all = from_env && *from_env ? from_env : TOOL_PATH;
    std::vector<std::string> words;
    for (size_t start = 0, end; start < all.size(); start = end + 1) {
        end = all.find(' ', start);
        if (end == std::string::npos)
            end = all.size();
        if (end > start)
            words.push_back(all.substr(start, end - start));
    }
    return words;
}

} // namespace

bool sandbox_available(std::string &why, uid_t as_user)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        become(as_user);
        execl(SIM_PATH, SIM_PATH, "--check", nullptr);
        int error = errno;
        printf("cannot run " SIM_PATH " as user %u: %s", getuid(), strerror(error));
        // Most often a directory on the way, such as a home of mode 0700.
        std::string dir = SIM_PATH;
        for (size_t slash = dir.find('/', 1); error == EACCES && slash != std::string::npos;
             slash = dir.find('/', slash + 1)) {
            if (access(dir.substr(0, slash).c_str(), X_OK) != 0) {
                printf(" (the directory %s is closed to that user)", dir.substr(0, slash).c_str());
                break;
            }
        }
        fflush(stdout);
        _exit(127);
    }
    close(out[1]);
    collect({{out[0], &why}}, pid, 0, now_s() + hang_bound_s);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

tool_run run_tool(const run_options &options)
{
    char record_path[] = "/tmp/modem-dialmode-record-XXXXXX";
    int record_fd = mkstemp(record_path);
    if (record_fd >= 0) {
        if (options.as_user && fchown(record_fd, options.as_user, options.as_user) != 0)
            return {};
        close(record_fd);
    }

    std::vector<std::string> argv = {SIM_PATH, "--record", record_path, "--script", options.script, "--"};
    if (options.session_leader) {
        // setsid(1) makes the session in place: sim-modem's child leads no group.
        argv.push_back("setsid");
        argv.push_back("--wait");
    }
    for (const std::string &word : tool_command())
        argv.push_back(word);
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<char *> c_argv;
    for (std::string &a : argv)
        c_argv.push_back(a.data());
    c_argv.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    tool_run r;
    if (!(options.out == stdout_kind::console_lost ? console(out_pipe) : pipe2(out_pipe, O_CLOEXEC) == 0) ||
        pipe2(err_pipe, O_CLOEXEC) != 0)
        return r;
    if (options.out == stdout_kind::reader_gone)
        close(out_pipe[0]);
    double start = now_s();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (options.out == stdout_kind::closed)
            close(1);
        else if (options.out == stdout_kind::full)
            dup2(open("/dev/full", O_WRONLY), 1);
        else
            dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (options.close_stdin)
            close(0);
        become(options.as_user);
        execv(c_argv[0], c_argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    std::vector<sink> sinks = {{err_pipe[0], &r.err}};
    if (options.out == stdout_kind::captured)
        sinks.push_back({out_pipe[0], &r.out});
    else if (options.out == stdout_kind::console_lost)
        sinks.push_back({out_pipe[0], &r.out, 4096}); // the master's close hangs the console up
    else if (options.out != stdout_kind::reader_gone)
        close(out_pipe[0]);
    double terminate_at = options.terminate_tool_after_ms ? start + options.terminate_tool_after_ms / 1000.0 : 0;
    double deadline = start + hang_bound_s;
    r.hung = !collect(sinks, pid, terminate_at, deadline);
    int wait_status = 0;
    while (!r.hung && waitpid(pid, &wait_status, WNOHANG) == 0) {
        r.hung = now_s() > deadline;
        usleep(10000);
    }
    if (r.hung) {
        kill(-pid, SIGKILL);
        waitpid(pid, &wait_status, 0);
    }
    r.status = exit_code_of(wait_status);
    r.seconds = now_s() - start;
    // The tool dies with the modem; give the kernel a moment to reap it.
    for (int i = 0; i < 50 && (r.left_behind = kill(-pid, 0) == 0); i++)
        usleep(10000);
    r.record = read_record(record_path);
    unlink(record_path);
    return r;
}

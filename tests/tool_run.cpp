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
#include <sstream>

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
    std::istringstream all(from_env && *from_env ? from_env : TOOL_PATH);
    std::vector<std::string> words;
    for (std::string word; all >> word;)
        words.push_back(word);
    return words;
}

// A record file for sim-modem to fill, owned by the user who will run it.
std::string record_file(uid_t as_user)
{
    char path[] = "/tmp/modem-dialmode-record-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "";
    bool owned = !as_user || fchown(fd, as_user, as_user) == 0;
    close(fd);
    return owned ? path : "";
}

// sim-modem with its script, then the tool under test and its arguments.
std::vector<std::string> command_line(const run_options &options, const std::string &record)
{
    std::vector<std::string> argv = {SIM_PATH, "--record", record, "--script", options.script, "--"};
    if (options.session_leader) {
        // setsid(1) makes the session in place: sim-modem's child leads no group.
        argv.push_back("setsid");
        argv.push_back("--wait");
    }
    for (const std::string &word : tool_command())
        argv.push_back(word);
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    return argv;
}

// Where the tool's standard output goes: the end the run takes as its
// descriptor 1 (-1: it runs with 1 closed), and the end the test reads
// (-1: none), closed once close_after bytes have come (0: never).
struct output_ends {
    int child = -1;
    int test = -1;
    size_t close_after = 0;
};

bool output_for(stdout_kind kind, output_ends &out)
{
    if (kind == stdout_kind::closed)
        return true;
    if (kind == stdout_kind::full) {
        out.child = open("/dev/full", O_WRONLY | O_CLOEXEC);
        return out.child >= 0;
    }
    int ends[2]; // the test's end, the run's end
    if (kind == stdout_kind::console_lost ? !console(ends) : pipe2(ends, O_CLOEXEC) != 0)
        return false;
    out = {ends[1], ends[0]};
    if (kind == stdout_kind::reader_gone) {
        close(ends[0]);
        out.test = -1;
    }
    if (kind == stdout_kind::console_lost)
        out.close_after = 4096; // the master's close hangs the console up
    return true;
}

// The run leads a process group of its own, so that a hung one can be
// killed whole.
[[noreturn]] void run_in_child(char *const argv[], const run_options &options, int out, int err)
{
    setpgid(0, 0);
    if (out >= 0)
        dup2(out, 1);
    else
        close(1);
    dup2(err, 2);
    if (options.close_stdin)
        close(0);
    become(options.as_user);
    execv(argv[0], argv);
    _exit(127);
}

// Waits for the run to end; past the deadline, or when it has hung already,
// it is killed with its group. Returns its wait status.
int reap(pid_t pid, double deadline, bool &hung)
{
    int status = 0;
    while (!hung && waitpid(pid, &status, WNOHANG) == 0) {
        hung = now_s() > deadline;
        usleep(10000);
    }
    if (hung) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return status;
}

// Whether a process of the run's group is still there. The tool dies with
// the modem; the kernel is given a moment to reap it.
bool outlived(pid_t group)
{
    for (int i = 0; i < 50; i++) {
        if (kill(-group, 0) != 0)
            return false;
        usleep(10000);
    }
    return true;
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
    tool_run r;
    std::string record = record_file(options.as_user);
    output_ends out;
    int err[2];
    if (record.empty() || !output_for(options.out, out) || pipe2(err, O_CLOEXEC) != 0)
        return r;
    std::vector<std::string> argv = command_line(options, record);
    std::vector<char *> c_argv;
    for (std::string &a : argv)
        c_argv.push_back(a.data());
    c_argv.push_back(nullptr);

    double start = now_s();
    pid_t pid = fork();
    if (pid == 0)
        run_in_child(c_argv.data(), options, out.child, err[1]);
    if (out.child >= 0)
        close(out.child);
    close(err[1]);

    std::vector<sink> sinks = {{err[0], &r.err}};
    if (out.test >= 0)
        sinks.push_back({out.test, &r.out, out.close_after});
    double terminate_at = options.terminate_tool_after_ms ? start + options.terminate_tool_after_ms / 1000.0 : 0;
    double deadline = start + hang_bound_s;
    r.hung = !collect(sinks, pid, terminate_at, deadline);
    r.status = exit_code_of(reap(pid, deadline, r.hung));
    r.seconds = now_s() - start;
    r.left_behind = outlived(pid);
    r.record = read_record(record.c_str());
    unlink(record.c_str());
    return r;
}

// sim-modem: run a command with a simulated modem at the serial device it
// expects, in a private /dev, or as a USB modem to a QEMU virtual machine,
// and report what the command did to the line.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cues.h"
#include "sim_modem.h"
#include "usb_acm.h"
#include "wait_status.h"

#ifndef SIM_DEFAULT_DEVICE
#define SIM_DEFAULT_DEVICE "/dev/ttyACM2"
#endif

namespace {

constexpr int exit_usage = 125;
constexpr int exit_cannot_run = 126;
constexpr int exit_not_found = 127;

const char usage_text[] =
    "usage: sim-modem [OPTION]... -- COMMAND [ARG]...\n"
    "Runs COMMAND with a simulated modem at the serial device it opens. The\n"
    "device is a pseudo-terminal in a private /dev (a mount namespace of its\n"
    "own), so the machine's /dev is never touched. Exits with COMMAND's status.\n"
    "\n"
    "  -d, --device PATH   where the modem appears (default " SIM_DEFAULT_DEVICE ")\n"
    "  -s, --script TEXT   what the modem does (default: answers like a modem\n"
    "                      that echoes commands and says OK)\n"
    "  -f, --script-file F the same, read from file F\n"
    "  -r, --record F      write to F what COMMAND sent and the line settings\n"
    "                      it left, one \"KEY VALUE\" fact per line (a USB\n"
    "                      modem: \"event MS WHAT\" for each plug, line coding,\n"
    "                      control-line change and notification, in order)\n"
    "  -u, --usb SOCKET    be a USB modem instead, for a QEMU that COMMAND starts\n"
    "                      with -chardev socket,id=M,path=SOCKET -device\n"
    "                      usb-redir,chardev=M: three CDC-ACM ports, of which the\n"
    "                      modem is the third (a guest's ttyACM2). No private\n"
    "                      /dev is made, so no privileges are needed\n"
    "  -c, --cues SOCKET   listen on SOCKET for the cue step's cues, one a line:\n"
    "                      for a guest's serial port, which QEMU passes on\n"
    "                      with -chardev socket,id=C,path=SOCKET -serial\n"
    "                      chardev:C\n"
    "      --check         only tell whether a private /dev can be made here\n"
    "  -h, --help          show this help\n"
    "\n";

const char usage_example[] =
    "\n"
    "Example:\n"
    "  sim-modem -s 'await; delay 500; send \"\\r\\nOK\\r\\n\"' -- modem-dialmode\n";

struct options {
    const char *device = SIM_DEFAULT_DEVICE;
    std::string script = default_script;
    const char *record = nullptr;
    const char *usb = nullptr;
    const char *cues = nullptr;
    bool check = false;
    char **command = nullptr;
};

// A message that cannot be written has nowhere else to go: the status tells.
[[noreturn]] void die(int status, const std::string &message)
{
    (void)fprintf(stderr, "sim-modem: %s\n", message.c_str());
    exit(status);
}

bool read_file(const char *path, std::string &text)
{
    FILE *f = fopen(path, "re");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    bool ok = !ferror(f);
    (void)fclose(f); // read only: nothing to lose
    return ok;
}

bool write_file(const char *path, const std::string &text)
{
    FILE *f = fopen(path, "we");
    if (!f)
        return false;
    bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && written;
}

options parse_options(int argc, char **argv)
{
    options o;
    int i = 1;
    auto value = [&](const char *name) -> const char * {
        if (i + 1 >= argc)
            die(exit_usage, std::string(name) + " wants a value");
        return argv[++i];
    };
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--") {
            i++;
            break;
        } else if (a == "-d" || a == "--device") {
            o.device = value("--device");
        } else if (a == "-s" || a == "--script") {
            o.script = value("--script");
        } else if (a == "-f" || a == "--script-file") {
            const char *path = value("--script-file");
            o.script.clear();
            if (!read_file(path, o.script))
                die(exit_usage, std::string("cannot read ") + path + ": " + strerror(errno));
        } else if (a == "-r" || a == "--record") {
            o.record = value("--record");
        } else if (a == "-u" || a == "--usb") {
            o.usb = value("--usb");
        } else if (a == "-c" || a == "--cues") {
            o.cues = value("--cues");
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "-h" || a == "--help") {
            std::string help = usage_text + script_help() + usage_example;
            exit(fputs(help.c_str(), stdout) < 0 || fflush(stdout) != 0 ? exit_cannot_run : 0);
        } else {
            break;
        }
    }
    if (i < argc && argv[i][0] == '-' && std::string(argv[i - 1]) != "--")
        die(exit_usage, std::string("unknown option ") + argv[i] + " (see --help)");
    if (i >= argc && !o.check)
        die(exit_usage, "no command to run (see --help)");
    o.command = argv + i;
    return o;
}

pid_t start_command(char **command)
{
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        die(exit_cannot_run, std::string("cannot fork: ") + strerror(errno));
    if (pid == 0) {
        // The command must not outlive the modem that serves it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(exit_cannot_run);
        execvp(command[0], command);
        (void)fprintf(stderr, "sim-modem: cannot run %s: %s\n", command[0], strerror(errno));
        _exit(errno == ENOENT ? exit_not_found : exit_cannot_run);
    }
    return pid;
}

// Serves the command in real time until it ends; returns its wait status.
int serve(sim_modem &m, cue_channel &cues, pid_t pid)
{
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int64_t now = monotonic_us();
        m.cues_heard += cues_take(cues);
        int64_t wake = modem_advance(m, now);
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (pidfd >= 0)
                close(pidfd);
            modem_advance(m, monotonic_us());
            return status;
        }
        struct pollfd fds[3] = {{pidfd, POLLIN, 0}, {m.line.master, POLLIN, 0}, {cues_poll_fd(cues), POLLIN, 0}};
        if (m.line.usb)
            fds[1] = {usb_poll_fd(*m.line.usb), usb_poll_events(*m.line.usb), 0};
        else if (!m.talk.pending.empty())
            fds[1].events |= POLLOUT;
        // Without a pidfd (old kernels) the child's end is noticed by polling.
        int timeout_ms = pidfd < 0 ? 10 : -1;
        if (wake != never) {
            int64_t ms = (wake - now + 999) / 1000;
            if (timeout_ms < 0 || ms < timeout_ms)
                timeout_ms = static_cast<int>(ms);
        }
        if (poll(fds, 3, timeout_ms) < 0 && errno != EINTR)
            die(exit_cannot_run, std::string("poll: ") + strerror(errno));
    }
}

} // namespace

int main(int argc, char **argv)
{
    options o = parse_options(argc, argv);
    modem_script script;
    std::string error;
    if (!parse_script(o.script.c_str(), script, error))
        die(exit_usage, "bad script: " + error);
    if (!o.usb && !sandbox_enter(o.device, error))
        die(exit_cannot_run, error);
    if (o.check)
        return 0;

    // Made before the command runs, so that a record that cannot be written
    // is known before the run that it would report.
    if (o.record && !write_file(o.record, ""))
        die(exit_cannot_run, std::string("cannot write ") + o.record + ": " + strerror(errno));

    sim_modem m;
    usb_acm usb;
    cue_channel cues;
    if (o.usb ? !modem_open_usb(m, usb, script, monotonic_us(), error) || !usb_listen(usb, o.usb, error)
              : !modem_open(m, o.device, script, monotonic_us(), error))
        die(exit_cannot_run, error);
    if (o.cues && !cues_listen(cues, o.cues, error))
        die(exit_cannot_run, error);
    modem_advance(m, monotonic_us());
    int status = serve(m, cues, start_command(o.command));

    modem_capture_line(m);
    std::string record = modem_record(m);
    modem_close(m);
    usb_close(usb);
    cues_close(cues);
    if (o.record && !write_file(o.record, record))
        die(exit_cannot_run, std::string("cannot write ") + o.record + ": " + strerror(errno));
    return exit_code_of(status);
}

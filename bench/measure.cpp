// measure OUTPUT COMMAND [ARG]...: runs COMMAND, then writes to OUTPUT one
// line "WALL_US USER_US SYSTEM_US MAXRSS_KIB" for it and all it waited for.
// GNU time's 10 ms steps are too coarse for a tool that uses a few ms.
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "wait_status.h"

static long long now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static long long us(const struct timeval &tv)
{
    return tv.tv_sec * 1000000LL + tv.tv_usec;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: measure OUTPUT COMMAND [ARG]...\n");
        return 125;
    }
    long long start = now_us();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 125;
    long long wall = now_us() - start;
    if (FILE *out = fopen(argv[1], "w")) {
        fprintf(out, "%lld %lld %lld %ld\n", wall, us(usage.ru_utime), us(usage.ru_stime), usage.ru_maxrss);
        fclose(out);
    }
    return exit_code_of(status);
}

// A child's wait status as a shell reports it: the exit status, or 128 plus
// the number of the signal that ended it.
#pragma once

#include <sys/wait.h>

inline int exit_code_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

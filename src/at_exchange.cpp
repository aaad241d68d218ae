// One AT command and its verdict. The modem is given fixed times to answer
// rather than being watched for the end of its reply, so a reply is whatever
// has gathered in the driver's queue when the wait is over.
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "link_state.h"

char reply_buf[reply_buf_size];
int listing_active;

constexpr char listing_marker[] = "AT+CFTPSLIST";
constexpr char failure_word[] = "ERROR";
constexpr size_t chunk_max = reply_buf_size - 1;
constexpr useconds_t answer_wait_us = 4000000;
constexpr useconds_t after_read_wait_us = 1000000;

// A modem that never answers, or stops right after a full listing chunk,
// must not hold a router's boot up for ever.
constexpr int read_bound_ms = 10000;
// Nor may one that never stops sending once it has started a listing: past
// this many full chunks (256 KiB, a minute) it is taken as stuck.
constexpr int listing_chunks_max = 64;

// Reads into a buffer that is all zero, so whatever arrives stays a
// terminated text. Nothing in time, a hang-up or a failed read all leave the
// buffer empty, which the verdict treats as a reply without the expected text.
static void read_reply()
{
    // Off the stack on purpose: a stack-protected function would make the
    // MIPS build load ld.so.1 for the guard and grow past its flash budget.
    static struct pollfd port;
    port = {port_fd, POLLIN, 0};
    if (poll(&port, 1, read_bound_ms) > 0)
        (void)!read(port_fd, reply_buf, chunk_max);
    usleep(after_read_wait_us);
}

// A long listing arrives in buffer-fulls: every full one is shown as it comes,
// and the first shorter one ends the listing and is judged like any reply.
// Past the limit nothing more is read, and the empty buffer ends the listing
// as "ERROR".
static void read_listing()
{
    for (int chunks = 0; listing_active; chunks++) {
        memset(reply_buf, 0, sizeof reply_buf);
        if (chunks < listing_chunks_max)
            read_reply();
        if (strlen(reply_buf) == chunk_max)
            puts(reply_buf);
        else
            listing_active = 0;
    }
}

void at_exchange(const char *command, const char *expected)
{
    // A short or failed write goes unnoticed: the reply, or its lack, tells.
    (void)!write(port_fd, command, strlen(command));
    usleep(answer_wait_us);

    read_reply();
    if (strstr(reply_buf, listing_marker))
        listing_active = 1;
    read_listing();

    puts(strstr(reply_buf, expected) ? reply_buf : failure_word);
    memset(reply_buf, 0, sizeof reply_buf);
}

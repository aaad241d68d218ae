// libFuzzer drives the real exchange with arbitrary modem output.
//
// The input is a list of segments: a two-byte little-endian length (0 to
// 8191) and that many bytes. Before each read of the tool's, the modem sends
// the next segment; once they run out, or at an empty one, it hangs up. The
// line is a socket pair, so a read takes exactly what has been sent, up to
// the tool's 4095 bytes. The tool's usleep is replaced: time is the modem's.
//
// Checked on every input: the buffer stays terminated during the exchange,
// the output is what the model in exchange_model.h predicts for the
// segments, the modem heard the command unchanged, and the exchange leaves
// its state clean.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "exchange_model.h"
#include "link_state.h"

namespace {

constexpr size_t input_max = 200000; // stays within the socket's buffer

int modem_fd = -1;
bool hung_up;
std::vector<std::string> segments;
size_t next_segment;
std::string heard;

[[noreturn]] void broken(const char *what)
{
    fprintf(stderr, "fuzz_exchange: %s\n", what);
    abort();
}

std::vector<std::string> parse(const uint8_t *data, size_t size)
{
    std::vector<std::string> parsed;
    for (size_t i = 0; i + 2 <= size;) {
        size_t length = std::min<size_t>((data[i] | data[i + 1] << 8) & 0x1fff, size - i - 2);
        i += 2;
        if (length == 0)
            break;
        parsed.emplace_back(reinterpret_cast<const char *>(data + i), length);
        i += length;
    }
    return parsed;
}

void listen_to_tool()
{
    char buf[256];
    ssize_t n;
    while ((n = recv(modem_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        heard.append(buf, static_cast<size_t>(n));
}

} // namespace

// Each of the tool's waits is the modem's turn to send its next segment.
extern "C" int usleep(useconds_t)
{
    if (reply_buf[reply_buf_size - 1] != '\0')
        broken("the reply buffer lost its terminator");
    listen_to_tool();
    if (next_segment < segments.size()) {
        const std::string &s = segments[next_segment++];
        if (write(modem_fd, s.data(), s.size()) != static_cast<ssize_t>(s.size()))
            broken("the modem could not send a segment");
    } else if (!hung_up) {
        shutdown(modem_fd, SHUT_WR);
        hung_up = true;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > input_max)
        return -1;
    segments = parse(data, size);
    next_segment = 0;
    hung_up = false;
    heard.clear();
    int line[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line) != 0)
        broken("no socket pair");
    port_fd = line[0];
    modem_fd = line[1];

    char *printed = nullptr;
    size_t printed_size = 0;
    FILE *console = stdout;
    stdout = open_memstream(&printed, &printed_size);
    at_exchange(command_bytes.c_str(), "OK");
    fclose(stdout);
    stdout = console;

    listen_to_tool();
    if (std::string(printed, printed_size) != expected_output(segments))
        broken("the output is not what the modem's segments call for");
    if (heard != command_bytes)
        broken("the modem did not hear the command unchanged");
    if (listing_active != 0 || std::any_of(reply_buf, reply_buf + reply_buf_size, [](char c) { return c; }))
        broken("the exchange did not leave its state clean");
    free(printed);
    close(line[0]);
    close(line[1]);
    return 0;
}

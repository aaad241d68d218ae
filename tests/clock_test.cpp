// The tool's modules on a virtual clock: usleep is replaced by one that logs
// each wait and moves the simulated modem on by that much virtual time, so
// the order and length of every wait is checked without sleeping through it.
// open and read are wrapped too, to see what the tool asks of them: what a
// pseudo-terminal cannot show, such as a flag that only matters on a line
// without carrier, or a read one byte too long that a pty never fills.
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "exchange_model.h"
#include "link_state.h"
#include "sim_modem.h"

namespace {

struct wait_seen {
    useconds_t us;
    size_t heard;    // bytes the modem had received from the tool by then
    int unread;      // bytes sent to the tool that it had not read yet
    bool line_raw;   // the line already set up when the wait began

    bool operator==(const wait_seen &) const = default;
};

std::ostream &operator<<(std::ostream &o, const wait_seen &w)
{
    return o << "{" << w.us << " us, heard " << w.heard << ", unread " << w.unread
             << (w.line_raw ? ", raw}" : ", cooked}");
}

sim_modem modem;
bool modem_running;
int64_t clock_us;
std::vector<wait_seen> waits;
std::vector<int> device_open_flags; // of every open of the device path
std::vector<size_t> port_read_sizes;
size_t port_bytes_taken; // by the tool's reads of the port, all told

constexpr useconds_t second = 1000000;
// A pseudo-terminal's input queue in raw mode holds this much.
constexpr size_t tool_queue_max = 4095;

bool line_is_raw()
{
    struct termios t;
    return modem.line.slave >= 0 && tcgetattr(modem.line.slave, &t) == 0 && !(t.c_lflag & ICANON);
}

// Plays the modem at the virtual time. The tool reads right after the clock
// moves on, so all that the modem sent and the tool has not taken must be in
// the tool's queue, as far as it holds, before control goes back to the tool.
// Bytes written to the master get there a moment later, and so do those the
// pseudo-terminal held back while the queue was full: that is waited for
// here (in real time, two seconds at most).
int64_t advance()
{
    int64_t wake = modem_advance(modem, clock_us);
    size_t want = std::min(modem.talk.sent - port_bytes_taken, tool_queue_max);
    const struct timespec moment = {0, 200000};
    for (int i = 0; i < 10000 && modem.line.slave >= 0 && static_cast<size_t>(modem_queued_for_tool(modem)) < want; i++)
        nanosleep(&moment, nullptr);
    return wake;
}

// Plays the modem as far as the clock allows, giving the tool's bytes the
// moment they need to cross the pseudo-terminal.
void catch_up()
{
    for (;;) {
        advance();
        struct pollfd p = {modem.line.master, POLLIN, 0};
        if (!modem_awaiting_input(modem) || modem.line.master < 0 || poll(&p, 1, 50) != 1)
            return;
    }
}

void play_until(int64_t until_us)
{
    for (int64_t wake = clock_us; wake <= until_us; wake = advance())
        clock_us = wake;
    clock_us = until_us;
}

std::vector<useconds_t> wait_lengths()
{
    std::vector<useconds_t> lengths;
    for (const wait_seen &w : waits)
        lengths.push_back(w.us);
    return lengths;
}

void print_waits()
{
    fprintf(stderr, "waits:");
    for (const wait_seen &w : waits)
        fprintf(stderr, " %u", w.us);
    fprintf(stderr, "\n");
}

} // namespace

extern "C" int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (strcmp(path, DEVICE_PATH) == 0)
        device_open_flags.push_back(flags);
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

extern "C" ssize_t read(int fd, void *buf, size_t count)
{
    bool port = port_fd > 0 && fd == port_fd;
    if (port)
        port_read_sizes.push_back(count);
    ssize_t n = syscall(SYS_read, fd, buf, count);
    if (port && n > 0)
        port_bytes_taken += static_cast<size_t>(n);
    return n;
}

extern "C" int usleep(useconds_t us)
{
    if (!modem_running) {
        waits.push_back({us, 0, 0, false});
        clock_us += us;
        return 0;
    }
    catch_up();
    waits.push_back({us, modem.talk.received.size(), modem_queued_for_tool(modem), line_is_raw()});
    play_until(clock_us + us);
    return 0;
}

namespace {

class VirtualClock : public testing::Test {
protected:
    void SetUp() override
    {
        static std::string why;
        static bool entered = sandbox_enter(DEVICE_PATH, why);
        if (!entered)
            GTEST_SKIP() << "no private /dev for the simulated modem: " << why;
        clock_us = 0;
        waits.clear();
        device_open_flags.clear();
        port_read_sizes.clear();
        port_bytes_taken = 0;
        port_fd = 0;
        listing_active = 0;
        memset(reply_buf, 0, sizeof reply_buf);
    }

    void TearDown() override
    {
        modem_running = false;
        if (port_fd > 0)
            serial_close();
        modem_close(modem);
    }

    static void start_modem(const char *script_text)
    {
        modem_script script;
        std::string error;
        ASSERT_TRUE(parse_script(script_text, script, error)) << error;
        ASSERT_TRUE(modem_open(modem, DEVICE_PATH, script, clock_us, error)) << error;
        modem_running = true;
    }

    // Runs the exchange with standard output caught.
    static std::string exchange(const char *expected)
    {
        fflush(stdout);
        FILE *caught = tmpfile();
        int saved = dup(1);
        dup2(fileno(caught), 1);
        at_exchange(command_bytes.c_str(), expected);
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::string out;
        rewind(caught);
        for (int c; (c = fgetc(caught)) != EOF;)
            out += static_cast<char>(c);
        fclose(caught);
        return out;
    }
};

TEST_F(VirtualClock, SettlesOnTheRawLineThenWaitsForTheAnswerThenAfterTheRead)
{
    start_modem("await; send \"\\r\\nOK\\r\\n\"");
    serial_open(115200);
    // Without O_NONBLOCK an open waits for carrier on a line without CLOCAL;
    // without O_NOCTTY the modem's line could become the controlling
    // terminal, and its hang-up would kill the tool.
    EXPECT_EQ(device_open_flags, std::vector<int>{O_RDWR | O_NOCTTY | O_NONBLOCK});
    EXPECT_EQ(fcntl(port_fd, F_GETFL) & O_NONBLOCK, 0) << "reads must wait for the modem";
    EXPECT_EQ(exchange("OK"), "\r\nOK\r\n\n");
    EXPECT_EQ(modem.talk.received, command_bytes);
    const std::vector<wait_seen> expected = {
        {2 * second, 0, 0, true},  // settle: line set up, nothing sent yet
        {4 * second, 15, 6, true}, // the command is out, and answered at once
        {1 * second, 15, 0, true}, // the answer has been read
    };
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(clock_us, 7 * int64_t{second});
}

TEST_F(VirtualClock, LateDeviceIsOpenedAtTheAttemptAfterItAppears)
{
    start_modem("appear 3000; await; send \"OK\"");
    serial_open(115200);
    EXPECT_EQ(exchange("OK"), "OK\n");
    EXPECT_EQ(wait_lengths(), (std::vector<useconds_t>{second, second, second, 2 * second, 4 * second, second}));
}

TEST_F(VirtualClock, AbsentDeviceIsTriedTwentyTimesASecondApart)
{
    std::string twenty = "waits:";
    for (int i = 0; i < 20; i++)
        twenty += " 1000000";
    EXPECT_EXIT(
        {
            start_modem("absent");
            atexit(print_waits);
            serial_open(115200);
        },
        testing::ExitedWithCode(255),
        "^Unable to open the serial port " DEVICE_PATH "\n" + twenty + "\n$");
}

TEST_F(VirtualClock, DescriptorZeroCountsAsAFailedOpen)
{
    start_modem("await; send \"OK\"");
    int saved_stdin = dup(0);
    close(0);
    serial_open(115200);
    dup2(saved_stdin, 0);
    close(saved_stdin);
    EXPECT_GT(port_fd, 0);
    ASSERT_GE(waits.size(), 2u);
    EXPECT_EQ(waits[0].us, second);
    EXPECT_EQ(waits[1].us, 2 * second);
}

TEST_F(VirtualClock, ListingWaitsASecondAfterEveryChunk)
{
    start_modem("await; send \"AT+CFTPSLIST\\r\\n\"; listing 4095 4095 100");
    serial_open(115200);
    EXPECT_EQ(exchange("OK"), std::string(4095, 'a') + "\n" + std::string(4095, 'b') + "\nERROR\n");
    EXPECT_EQ(wait_lengths(), (std::vector<useconds_t>{2 * second, 4 * second, second, second, second, second}));
    // The last byte of the buffer is never read into, so it always ends a text.
    EXPECT_EQ(port_read_sizes, std::vector<size_t>(4, sizeof reply_buf - 1));
    EXPECT_EQ(listing_active, 0);
    EXPECT_EQ(std::string(reply_buf, sizeof reply_buf), std::string(sizeof reply_buf, '\0'));
}

TEST_F(VirtualClock, ListingThatNeverEndsIsCutAfterSixtyFourChunks)
{
    start_modem("await; send \"AT+CFTPSLIST\\r\\n\"; drain; flood \"x\"");
    serial_open(115200);
    std::string full_chunk = std::string(4095, 'x') + "\n";
    std::string expected;
    for (int i = 0; i < 64; i++)
        expected += full_chunk;
    EXPECT_EQ(exchange("OK"), expected + "ERROR\n");
    EXPECT_EQ(waits.size(), 3u + 64u);
    EXPECT_EQ(listing_active, 0);
}

// A UART hands the "\r\n" of a command over in two parts whenever it likes.
TEST_F(VirtualClock, ModemTakesALateLineFeedAsPartOfTheLineItAwaited)
{
    start_modem("await; echo; await; send \"OK\"");
    int tool = open(DEVICE_PATH, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tool, 0);
    port_fd = tool; // the test plays the tool; the port is closed at teardown
    struct termios raw;
    ASSERT_EQ(tcgetattr(tool, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(tool, TCSANOW, &raw), 0);
    auto heard = [&] {
        catch_up();
        char buf[64];
        ssize_t n = ::read(tool, buf, sizeof buf);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    };
    ASSERT_EQ(write(tool, "AT\r", 3), 3);
    std::string echo = heard();
    ASSERT_EQ(write(tool, "\n", 1), 1);
    echo += heard();
    EXPECT_EQ(echo, "AT\r\n") << "the line feed is echoed with its line, and starts no line of its own";
    ASSERT_EQ(write(tool, "AT\r\n", 4), 4);
    EXPECT_EQ(heard(), "OK");
}

// One rate asked for, and the speed the line must get: each row on its own.
class Rate : public VirtualClock, public testing::WithParamInterface<std::pair<int, speed_t>> {};

TEST_P(Rate, SetsTheLineSpeed)
{
    const auto [rate, code] = GetParam();
    start_modem("");
    serial_open(rate);
    struct termios line;
    ASSERT_EQ(tcgetattr(port_fd, &line), 0);
    EXPECT_EQ(cfgetispeed(&line), code);
    EXPECT_EQ(cfgetospeed(&line), code);
    serial_close();
    EXPECT_EQ(fcntl(port_fd, F_GETFD), -1) << "the port is closed";
    port_fd = 0;
}

// Rates outside the table get the fallback; 4800 is not in it either.
INSTANTIATE_TEST_SUITE_P(VirtualClock, Rate,
                         testing::Values(std::pair{100, speed_t{B230400}}, std::pair{4800, speed_t{B230400}},
                                         std::pair{9600, speed_t{B9600}}),
                         [](const testing::TestParamInfo<std::pair<int, speed_t>> &i) {
                             return std::to_string(i.param.first);
                         });

TEST_F(VirtualClock, EmptyExpectedTextMatchesEvenNoReply)
{
    start_modem("await; hangup");
    serial_open(115200);
    EXPECT_EQ(exchange(""), "\n");
}

// Whatever the modem sends, the output is what the model predicts: its text
// up to the first NUL (at most one buffer of it) when that holds "OK", and
// "ERROR" otherwise.
TEST_F(VirtualClock, AnyReplyGivesItsTextOrError)
{
    start_modem("");
    serial_open(115200);
    modem_script answer;
    std::string error;
    ASSERT_TRUE(parse_script("await; send \"\"", answer, error)) << error;
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; round++) {
        std::string reply(std::uniform_int_distribution<size_t>(1, 6000)(random), '\0');
        int zeros = std::uniform_int_distribution<int>(0, 3)(random);
        for (char &c : reply)
            c = static_cast<char>(std::uniform_int_distribution<int>(zeros ? 0 : 1, 255)(random));
        if (round % 2)
            reply.replace(std::uniform_int_distribution<size_t>(0, reply.size() - 1)(random), 2, "OK");

        tcflush(modem.line.slave, TCIFLUSH);
        port_bytes_taken = modem.talk.sent; // the rest of the last reply is gone
        answer[1].text = reply;
        modem.script = answer;
        modem.at.next = 0;
        std::string out = exchange("OK");

        ASSERT_EQ(out, expected_output({reply})) << "round " << round << ", reply of " << reply.size() << " bytes";
        ASSERT_EQ(std::string(reply_buf, sizeof reply_buf), std::string(sizeof reply_buf, '\0'));
    }
}

} // namespace

// The shipped binary against the simulated modem, in real time. Each case
// takes the tool's own seven seconds or more, so CTest runs them in parallel.
#include <unistd.h>

#include <gtest/gtest.h>

#include "tool_run.h"

namespace {

const std::string command_bytes = "AT+DIALMODE=0\r\n";
const std::string no_port_message = "Unable to open the serial port " DEVICE_PATH "\n";

class EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        available = sandbox_available(why);
    }
    void SetUp() override
    {
        if (!available)
            GTEST_SKIP() << "no private /dev for the simulated modem: " << why;
    }

    static tool_run run(const std::string &script, std::vector<std::string> args = {})
    {
        tool_run r = run_tool({script, std::move(args)});
        EXPECT_FALSE(r.hung) << "still running after " << hang_bound_s << " s";
        return r;
    }

    static bool available;
    static std::string why;
};

bool EndToEnd::available;
std::string EndToEnd::why;

void expect_reply(const tool_run &r, const std::string &out)
{
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(EndToEnd, OkReplyIsPrintedVerbatimAfterOneCommandOnARawLine)
{
    tool_run r = run("await; echo; delay 100; send \"\\r\\n+DIALMODE: 0\\r\\nOK\\r\\n\"");
    expect_reply(r, command_bytes + "\r\n+DIALMODE: 0\r\nOK\r\n\n");
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes));

    const std::map<std::string, std::string> line = {
        {"ispeed", "115200"}, {"ospeed", "115200"}, {"csize", "8"},       {"parenb", "0"},
        {"cstopb", "0"},      {"cread", "1"},       {"clocal", "1"},      {"icanon", "0"},
        {"echo", "0"},        {"echoe", "0"},       {"isig", "0"},        {"iexten", "0"},
        {"opost", "0"},       {"cooked_iflag", "0"}, {"vmin", "1"},       {"vtime", "0"},
    };
    for (const auto &[fact, value] : line)
        EXPECT_EQ(r.record[fact], value) << fact;
}

TEST_F(EndToEnd, UserWithoutPrivilegesGetsAPrivateDevThroughAUserNamespace)
{
    constexpr uid_t nobody = 65534;
    std::string why_not;
    if (getuid() != 0 || !sandbox_available(why_not, nobody))
        GTEST_SKIP() << "cannot run the simulated modem as an unprivileged user here: " << why_not;
    tool_run r = run_tool({"await; send \"\\r\\nOK\\r\\n\"", {}, false, nobody});
    EXPECT_FALSE(r.hung);
    expect_reply(r, "\r\nOK\r\n\n");
}

TEST_F(EndToEnd, ReplyWithoutOkPrintsError)
{
    expect_reply(run("await; send \"\\r\\nERROR\\r\\n\""), "ERROR\n");
}

TEST_F(EndToEnd, OkMatchesAnywhereButOnlyInCapitals)
{
    expect_reply(run("await; send \"\\r\\nok\\r\\n\""), "ERROR\n");
    expect_reply(run("await; send \"\\r\\n+CME ERROR: BOOKED\\r\\n\""), "\r\n+CME ERROR: BOOKED\r\n\n");
}

TEST_F(EndToEnd, NulByteEndsTheReply)
{
    expect_reply(run("await; send \"\\r\\nOK\\0 ERROR\\r\\n\""), "\r\nOK\n");
    expect_reply(run("await; send \"\\r\\n\\0OK\\r\\n\""), "ERROR\n");
}

TEST_F(EndToEnd, ReplyLongerThanTheBufferIsCutAt4095Bytes)
{
    std::string reply;
    while (reply.size() < 6000)
        reply += "OK 0123456789\r\n";
    reply.resize(6000);
    tool_run r = run("await; fill 6000 \"OK 0123456789\\r\\n\"");
    expect_reply(r, reply.substr(0, 4095) + "\n");
}

TEST_F(EndToEnd, OnlyWhatHasArrivedAtTheFirstReadIsJudged)
{
    // The tool reads 4 s after the command; the rest comes 1.5 s later.
    expect_reply(run("await; send \"\\r\\nOK\"; delay 5500; send \"\\r\\n+LATE\\r\\n\""), "\r\nOK\n");
}

TEST_F(EndToEnd, ListingPrintsEachFullChunkThenJudgesTheLastOne)
{
    tool_run r = run("await; send \"AT+CFTPSLIST\\r\\n\"; listing 4095 4095 100");
    expect_reply(r, std::string(4095, 'a') + "\n" + std::string(4095, 'b') + "\nERROR\n");
}

TEST_F(EndToEnd, ListingEndingWithOkPrintsTheLastChunk)
{
    tool_run r = run("await; send \"AT+CFTPSLIST\\r\\n\"; listing 4095; drain;"
                     "send \"+CFTPSLIST: END\\r\\nOK\\r\\n\"");
    expect_reply(r, std::string(4095, 'a') + "\n+CFTPSLIST: END\r\nOK\r\n\n");
}

TEST_F(EndToEnd, ArgumentsAreIgnored)
{
    tool_run r = run("await; send \"\\r\\nOK\\r\\n\"", {"--help", "-d", "/dev/null", "AT+CFUN=0"});
    expect_reply(r, "\r\nOK\r\n\n");
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes));
}

TEST_F(EndToEnd, AbsentDeviceFailsWithStatus255AfterItsRetries)
{
    tool_run r = run("absent");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, no_port_message);
    EXPECT_EQ(r.status, 255);
    EXPECT_GE(r.seconds, 19.0) << "gave up before twenty attempts a second apart";
}

TEST_F(EndToEnd, DeviceAppearingLateIsOpened)
{
    tool_run r = run("appear 3000; await; send \"OK\"");
    expect_reply(r, "OK\n");
    EXPECT_GE(r.seconds, 10.0) << "3 s until the device appears, then 7 s of exchange";
}

TEST_F(EndToEnd, ClosedStandardInputIsNotTakenForThePort)
{
    tool_run r = run_tool({"await; send \"\\r\\nOK\\r\\n\"", {}, true});
    EXPECT_FALSE(r.hung);
    expect_reply(r, "\r\nOK\r\n\n");
    EXPECT_GE(r.seconds, 8.0) << "the open that yields descriptor 0 is retried a second later";
}

TEST_F(EndToEnd, SilentModemGivesErrorOnceTheReadBoundPasses)
{
    tool_run r = run("await");
    expect_reply(r, "ERROR\n");
    EXPECT_LT(r.seconds, 30.0);
}

TEST_F(EndToEnd, HangUpAfterTheCommandGivesErrorWithoutWaitingOut)
{
    tool_run r = run("await; hangup");
    expect_reply(r, "ERROR\n");
    EXPECT_LT(r.seconds, 12.0) << "a hung-up line is not a silent one";
}

TEST_F(EndToEnd, EveryByteValueComesThroughUnchanged)
{
    std::string bytes;
    std::string script = "await; send \"";
    for (int b = 1; b < 256; b++) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02x", b);
        script += hex;
        bytes += static_cast<char>(b);
    }
    expect_reply(run(script + "\""), "ERROR\n");
    expect_reply(run(script + "OK\""), bytes + "OK\n");
}

TEST_F(EndToEnd, FloodingModemIsReadOneBufferAtATime)
{
    std::string flood;
    while (flood.size() < 4095)
        flood += "\r\nOK";
    expect_reply(run("await; flood \"\\r\\nOK\""), flood.substr(0, 4095) + "\n");
}

} // namespace

// The shipped binary against the simulated modem, in real time. Each case
// takes the tool's own seven seconds or more, so CTest runs them in parallel.
#include <unistd.h>

#include "end_to_end.h"

namespace {

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
    tool_run r = run_with({.script = ok_modem, .as_user = nobody});
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
    tool_run r = run(ok_modem, {"--help", "-d", "/dev/null", "AT+CFUN=0"});
    expect_reply(r, "\r\nOK\r\n\n");
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes));
}

} // namespace

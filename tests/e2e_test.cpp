// The shipped binary against the simulated modem, in real time. Each case
// takes the tool's own seven seconds or more, so CTest runs them in parallel.
#include <unistd.h>

#include "end_to_end.h"

namespace {

TEST_F(EndToEnd, OkReplyIsPrintedVerbatimAfterOneCommandOnARawLine)
{
    tool_run r = run(R"(await; echo; delay 100; send "\r\n+DIALMODE: 0\r\nOK\r\n")");
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

TEST_F(EndToEnd, ArgumentsAreIgnored)
{
    tool_run r = run(ok_modem, {"--help", "-d", "/dev/null", "AT+CFUN=0"});
    expect_reply(r, "\r\nOK\r\n\n");
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes));
}

// One modem behaviour, and what must stand on standard output after it,
// within what time. Nothing may reach standard output that the modem did
// not send, but "ERROR" and the newlines the tool adds.
struct modem_case {
    std::string name;
    std::string script;
    std::string out;
    double min_s = 0;
    double max_s = hang_bound_s;
};

void PrintTo(const modem_case &c, std::ostream *os)
{
    *os << c.name;
}

std::string repeated(const std::string &unit, size_t size)
{
    std::string s;
    while (s.size() < size)
        s += unit;
    return s.substr(0, size);
}

std::vector<modem_case> modem_cases()
{
    const std::string a = std::string(4095, 'a') + "\n", b = std::string(4095, 'b') + "\n";
    const std::string listing = R"(await; send "AT+CFTPSLIST\r\n"; listing 4095)";
    std::vector<modem_case> cases = {
        {"ReplyWithoutOkPrintsError", R"(await; send "\r\nERROR\r\n")", "ERROR\n"},
        {"OkInSmallLettersIsNoOk", R"(await; send "\r\nok\r\n")", "ERROR\n"},
        {"OkInsideAWordCounts", R"(await; send "\r\n+CME ERROR: BOOKED\r\n")", "\r\n+CME ERROR: BOOKED\r\n\n"},
        {"NulByteEndsTheReply", R"(await; send "\r\nOK\0 ERROR\r\n")", "\r\nOK\n"},
        {"NulByteBeforeOkHidesIt", R"(await; send "\r\n\0OK\r\n")", "ERROR\n"},
        {"ReplyLongerThanTheBufferIsCutAt4095Bytes", R"(await; fill 6000 "OK 0123456789\r\n")",
         repeated("OK 0123456789\r\n", 4095) + "\n"},
        // 2 s settling, the answer 6 s after the command, 1 s after the read.
        {"AnswerAfterTheFixedWaitIsStillRead", R"(await; delay 6000; send "\r\nOK\r\n")", "\r\nOK\r\n\n",
         8.5},
        // The tool reads 4 s after the command; the rest comes 1.5 s later.
        {"OnlyWhatHasArrivedAtTheFirstReadIsJudged",
         R"(await; send "\r\nOK"; delay 5500; send "\r\n+LATE\r\n")", "\r\nOK\n"},
        {"WhatTheModemSaidBeforeTheCommandIsKept", R"(send "RDY "; await; send "\r\nOK\r\n")",
         "RDY \r\nOK\r\n\n"},
        {"FloodingModemIsReadOneBufferAtATime", R"(await; flood "\r\nOK")", repeated("\r\nOK", 4095) + "\n"},
        {"ListingPrintsEachFullChunkThenJudgesTheLastOne", listing + " 4095 100", a + b + "ERROR\n"},
        {"ListingEndingWithOkPrintsTheLastChunk", listing + R"(; drain; send "+CFTPSLIST: END\r\nOK\r\n")",
         a + "+CFTPSLIST: END\r\nOK\r\n\n"},
        {"ListingChunkOneByteShortEndsTheListing", listing + " 4094", a + "ERROR\n"},
        {"ListingMarkerCountsInTheFirstReplyOnly", listing + R"(; drain; send "AT+CFTPSLIST: 0\r\nOK\r\n")",
         a + "AT+CFTPSLIST: 0\r\nOK\r\n\n"},
        // 2 + 4 + 1 s, then a read that waits out its 10 s bound.
        {"ListingThatStopsAfterAFullChunkEndsWithErrorOnceTheBoundPasses", listing, a + "ERROR\n", 17.5, 35},
        {"SilentModemGivesErrorOnceTheReadBoundPasses", "await", "ERROR\n", 16.5, 30},
        {"HangUpAfterTheCommandGivesErrorWithoutWaitingOut", "await; hangup", "ERROR\n", 0, 12},
        {"HangUpBeforeTheCommandGivesError", "delay 1000; hangup", "ERROR\n"},
        // The kernel drops what is queued on a line that hangs up.
        {"HangUpRightAfterTheReplyLosesItWithTheLine", R"(await; send "\r\nOK\r\n"; hangup)", "ERROR\n"},
        {"HangUpAfterTheReplyWasReadStillPrintsIt", R"(await; send "\r\nOK\r\n"; delay 5000; hangup)",
         "\r\nOK\r\n\n"},
        // Every call on the line fails or does nothing; the exchange still ends.
        {"DeviceThatIsANullGivesError", "node null", "ERROR\n", 0, 20},
        {"DeviceThatIsAFifoGivesError", "node fifo", "ERROR\n", 0, 20},
        {"DeviceThatIsAFileGivesError", "node file", "ERROR\n", 0, 20},
    };

    const std::string reply = "\r\n+DIALMODE: 0\r\n\r\nOK\r\n";
    std::string trickle = "await";
    for (char c : reply)
        trickle += "; delay 40; send " + quoted_text(std::string(1, c));
    cases.push_back({"ReplySplitIntoManySmallWritesIsReadWhole", trickle, reply + "\n"});

    std::string bytes;
    for (int v = 1; v < 256; v++)
        bytes += static_cast<char>(v);
    cases.push_back({"EveryByteValueWithoutOkGivesError", "await; send " + quoted_text(bytes), "ERROR\n"});
    cases.push_back({"EveryByteValueComesThroughUnchanged", "await; send " + quoted_text(bytes + "OK"), bytes + "OK\n"});
    return cases;
}

class Modem : public EndToEnd, public testing::WithParamInterface<modem_case> {};

TEST_P(Modem, IsAnswered)
{
    const modem_case &c = GetParam();
    tool_run r = run(c.script);
    expect_reply(r, c.out);
    EXPECT_GE(r.seconds, c.min_s) << "a fixed wait or the read bound was cut short";
    EXPECT_LE(r.seconds, c.max_s);
}

INSTANTIATE_TEST_SUITE_P(Behaviour, Modem, testing::ValuesIn(modem_cases()),
                         [](const testing::TestParamInfo<modem_case> &i) { return i.param.name; });

} // namespace

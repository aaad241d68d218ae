// The shipped binary against a modem, a device or a console that misbehaves.
// Each name says what the tool does about it; none may hang the tool past
// its read bound, and nothing may reach standard output that the modem did
// not send, but "ERROR" and the newlines the tool adds.
#include <signal.h>

#include "end_to_end.h"

namespace {

const std::string no_port_message = "Unable to open the serial port " DEVICE_PATH "\n";
const std::string lost_verdict_message = "Unable to write the verdict to standard output\n";

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
    tool_run r = run_with({.script = ok_modem, .close_stdin = true});
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

class NotATerminal : public EndToEnd, public testing::WithParamInterface<const char *> {};

// Every call on the line fails or does nothing; the exchange still ends.
TEST_P(NotATerminal, GivesErrorWithoutHanging)
{
    tool_run r = run(std::string("node ") + GetParam());
    expect_reply(r, "ERROR\n");
    EXPECT_LT(r.seconds, 20.0);
}

INSTANTIATE_TEST_SUITE_P(Device, NotATerminal, testing::Values("null", "fifo", "file"));

TEST_F(EndToEnd, HangUpBeforeTheCommandGivesError)
{
    expect_reply(run("delay 1000; hangup"), "ERROR\n");
}

TEST_F(EndToEnd, HangUpRightAfterTheReplyLosesItWithTheLineAndGivesError)
{
    // The kernel drops what is queued on a line that hangs up.
    expect_reply(run("await; send \"\\r\\nOK\\r\\n\"; hangup"), "ERROR\n");
}

TEST_F(EndToEnd, HangUpAfterTheReplyWasReadStillPrintsIt)
{
    expect_reply(run("await; send \"\\r\\nOK\\r\\n\"; delay 5000; hangup"), "\r\nOK\r\n\n");
}

TEST_F(EndToEnd, ReplySplitIntoManySmallWritesIsReadWhole)
{
    const std::string reply = "\r\n+DIALMODE: 0\r\n\r\nOK\r\n";
    std::string script = "await";
    for (char c : reply)
        script += std::string("; delay 40; send \"") + (c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c)) + "\"";
    expect_reply(run(script), reply + "\n");
}

TEST_F(EndToEnd, ListingThatStopsAfterAFullChunkEndsWithErrorOnceTheBoundPasses)
{
    tool_run r = run("await; send \"AT+CFTPSLIST\\r\\n\"; listing 4095");
    expect_reply(r, std::string(4095, 'a') + "\nERROR\n");
    EXPECT_LT(r.seconds, 35.0);
}

TEST_F(EndToEnd, RunTerminatedHalfWayLeavesNothingBehind)
{
    // Half way: the command is out and the tool waits for the answer.
    tool_run r = run_with({.script = ok_modem, .terminate_tool_after_ms = 4000});
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes));
}

class LostVerdict : public EndToEnd, public testing::WithParamInterface<stdout_kind> {};

// The exchange was made, so the status stays 0; but the verdict did not get
// out, and the tool says so instead of leaving a silence that reads as "OK".
TEST_P(LostVerdict, IsReportedOnStandardError)
{
    tool_run r = run_with({.script = ok_modem, .out = GetParam()});
    EXPECT_EQ(r.status, 0) << "not ended by SIGPIPE";
    EXPECT_EQ(r.err, lost_verdict_message);
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes)) << "the port took descriptor 1";
}

std::string stdout_name(const testing::TestParamInfo<stdout_kind> &info)
{
    constexpr const char *names[] = {"Captured", "Closed", "ReaderGone", "Full"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(StandardOutput, LostVerdict,
                         testing::Values(stdout_kind::closed, stdout_kind::reader_gone, stdout_kind::full),
                         stdout_name);

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

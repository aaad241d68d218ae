// The shipped binary against a device or a console that misbehaves, where
// more than standard output tells what the tool did.
#include <signal.h>
#include <unistd.h>

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
    tool_run r = run(R"(appear 3000; await; send "OK")");
    expect_reply(r, "OK\n");
    EXPECT_GE(r.seconds, 10.0) << "3 s until the device appears, then 7 s of exchange";
}

TEST_F(EndToEnd, ClosedStandardInputIsNotTakenForThePort)
{
    tool_run r = run_with({.script = ok_modem, .close_stdin = true});
    expect_reply(r, "\r\nOK\r\n\n");
    EXPECT_GE(r.seconds, 8.0) << "the open that yields descriptor 0 is retried a second later";
}

// A session leader without a controlling terminal would take the modem's
// line as one at the open, and be sent SIGHUP when the modem hangs up.
TEST_F(EndToEnd, SessionLeaderOutlivesTheModemHangingUp)
{
    expect_reply(run_with({.script = "await; hangup", .session_leader = true}), "ERROR\n");
}

TEST_F(EndToEnd, RunTerminatedHalfWayLeavesNothingBehind)
{
    if (access(("/proc/self/task/" + std::to_string(getpid()) + "/children").c_str(), R_OK) != 0)
        GTEST_SKIP() << "no /proc/PID/task/PID/children to find the tool by (CONFIG_PROC_CHILDREN)";
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
// A listing, so that a console can go away after its first chunk: the
// writes after that fail, yet nothing is left to flush at the end.
TEST_P(LostVerdict, IsReportedOnStandardError)
{
    tool_run r = run_with({.script = R"(await; send "AT+CFTPSLIST\r\n"; listing 4095 4095 100)",
                           .out = GetParam()});
    EXPECT_EQ(r.status, 0) << "not ended by SIGPIPE";
    EXPECT_EQ(r.err, lost_verdict_message);
    EXPECT_EQ(r.record["received"], record_bytes(command_bytes)) << "the port took descriptor 1";
}

std::string stdout_name(const testing::TestParamInfo<stdout_kind> &info)
{
    constexpr const char *names[] = {"Captured", "Closed", "ReaderGone", "Full", "ConsoleGoneMidListing"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(StandardOutput, LostVerdict,
                         testing::Values(stdout_kind::closed, stdout_kind::reader_gone, stdout_kind::full,
                                         stdout_kind::console_lost),
                         stdout_name);

} // namespace

// What the end-to-end cases share: a fixture that skips cleanly where no
// private /dev can be made, and checks on a finished run.
#pragma once

#include <gtest/gtest.h>

#include "exchange_model.h"
#include "sim_modem.h"
#include "tool_run.h"

// A modem that answers the command with a plain OK.
inline const std::string ok_modem = "await; send \"\\r\\nOK\\r\\n\"";

class EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        why = "";
        available = sandbox_available(why);
    }
    void SetUp() override
    {
        if (!available)
            GTEST_SKIP() << "no private /dev for the simulated modem: " << why;
    }

    static tool_run run_with(const run_options &options)
    {
        tool_run r = run_tool(options);
        EXPECT_FALSE(r.hung) << "still running after " << hang_bound_s << " s";
        EXPECT_FALSE(r.left_behind) << "a process of the run outlived it";
        return r;
    }
    static tool_run run(const std::string &script, std::vector<std::string> args = {})
    {
        return run_with({script, std::move(args)});
    }

    inline static bool available;
    inline static std::string why;
};

// The run ended normally with exactly this on standard output.
inline void expect_reply(const tool_run &r, const std::string &out)
{
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

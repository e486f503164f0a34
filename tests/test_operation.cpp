// The operation frame: busy/idle switching, the time line, stop reporting,
// separator lines and progress arithmetic.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "core/operation.h"
#include "support/fake_frontend.h"

using namespace rombolt;

namespace {
struct Frame : ::testing::Test {
    AppState s;
    test::FakeFrontend ui{s};
    NullPort inner;
    RecordingPort port{inner};
    void SetUp() override {
        s.UI = &ui;
        s.Port = &port;
        ApplyPortSelection(s);
    }
};
}  // namespace

TEST_F(Frame, BeginAndEndSwitchStateAndEndIdlesThePortEveryTime) {
    EXPECT_EQ(s.StopRequested, 1);  // no operation runs
    BeginOperation(s);
    EXPECT_EQ(s.StopRequested, 0);
    EXPECT_TRUE(ui.busy);
    EXPECT_EQ(ui.panels[3], "0 Sec");
    TimerTick(s);
    TimerTick(s);
    EXPECT_EQ(ui.panels[3], "2 Sec");

    ReportStop(s);    // a stopped operation ends once here ...
    EndOperation(s);  // ... and again in its caller
    EXPECT_FALSE(ui.busy);
    EXPECT_EQ(s.StopRequested, 1);
    LogElapsedTime(s);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Stop process !!!", "Time = 2 Sec"}));
    int idleWrites = 0;
    for (auto& a : port.log)
        idleWrites += (a.kind == RecordingPort::Kind::OutB && a.port == 0x37A && a.value == 0x04);
    EXPECT_EQ(idleWrites, 2);
    EXPECT_EQ(port.log.size(), 2u) << "ending an operation touches nothing but the control register";

    // A new operation restarts the clock.
    BeginOperation(s);
    EndOperation(s);
    LogElapsedTime(s);
    EXPECT_EQ(ui.log.back(), "Time = 0 Sec");
}

TEST_F(Frame, SeparatorLineOnlyAfterTheFirstOperationAndResetProgress) {
    BeginLogSection(s);
    EXPECT_TRUE(ui.log.empty());
    BeginLogSection(s);
    EXPECT_EQ(ui.log, (std::vector<std::string>{""}));

    ui.panels[1] = "Write ok";
    ui.panels[3] = "5 Sec";
    s.ProgressPercent = 100;
    ResetProgress(s);
    EXPECT_EQ(ui.progress, 0);
    EXPECT_EQ(ui.panels[1], "");
    EXPECT_EQ(ui.panels[3], "");
}

TEST(Progress, PercentIsTruncatedNeverRounded) {
    EXPECT_EQ(PercentOf(0, 3), 0);
    EXPECT_EQ(PercentOf(2, 3), 66);    // 66.67 truncated
    EXPECT_EQ(PercentOf(1, 7), 14);    // 14.28
    EXPECT_EQ(PercentOf(29, 30), 96);  // 96.67
    EXPECT_EQ(PercentOf(5, 5), 100);
    EXPECT_EQ(PercentOf(1, 0), 0);
}

TEST_F(Frame, TheFrameDecidesTheOutcomeAndEndsAnOperationLeftBusy) {
    {
        OperationFrame f(s);
        EXPECT_EQ(f.Finish().Kind, OutcomeKind::Refused);  // ended before its transfer began
    }
    EXPECT_TRUE(ui.busyHistory.empty());
    {
        OperationFrame f(s);
        f.Begin();
        EXPECT_TRUE(ui.busy);
        EXPECT_EQ(f.Finish().Kind, OutcomeKind::Failed);
    }
    EXPECT_FALSE(ui.busy);  // a path that forgot to end it
    EXPECT_EQ(s.StopRequested, 1);
    {
        BeginLogSection(s);
        OperationFrame f(s);
        f.Begin();
        EXPECT_TRUE(f.Conclude(0));
        f.End("done");
        EXPECT_EQ(f.Finish().Kind, OutcomeKind::Ok);
    }
    {
        BeginLogSection(s);
        OperationFrame f(s);
        f.Begin();
        s.StopRequested = 1;
        EXPECT_TRUE(BlockStopTest(s));
        EXPECT_FALSE(f.Conclude(kStopResult));
        f.End();
        EXPECT_EQ(f.Finish().Kind, OutcomeKind::Stopped);
    }
    EXPECT_EQ(ui.log,
              (std::vector<std::string>{"done", "Time = 0 Sec", "", "Stop process !!!", "Time = 0 Sec"}));
}

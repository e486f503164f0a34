#include <gtest/gtest.h>

#include "app/operation.h"
#include "support/fake_frontend.h"

using namespace rombolt;

TEST(OperationFrame, ElapsedTimeLineAndIdempotentEnd) {
    AppState s;
    test::FakeFrontend ui(s);
    NullPort port;
    s.UI = &ui;
    s.Port = &port;
    ApplyPortSelection(s);
    BeginOperation(s);
    EXPECT_EQ(s.StopRequested, 0);
    EXPECT_EQ(ui.panels[3], "0 Sec");
    TimerTick(s);
    TimerTick(s);
    EXPECT_EQ(ui.panels[3], "2 Sec");
    EndOperation(s);
    EndOperation(s);
    EXPECT_EQ(s.StopRequested, 1);
    LogElapsedTime(s);
    EXPECT_EQ(ui.log.back(), "Time = 2 Sec");
}

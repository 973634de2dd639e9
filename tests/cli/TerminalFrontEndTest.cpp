// Ctrl-C in the terminal follows the Cancel button's steps.
#include "cli/CTerminalFrontEnd.h"

#include <gtest/gtest.h>

TEST(TerminalFrontEnd, InterruptsMoveTheStopRequestForwardOnly) {
    CTerminalFrontEnd ui("out", 512, 512, false);
    EXPECT_EQ(ui.stopRequest(), CScanFrontEnd::StopRequest::Running);
    ui.publishFoundCount(3);
    CTerminalFrontEnd::interrupt();
    EXPECT_EQ(ui.stopRequest(), CScanFrontEnd::StopRequest::StopAndWrite);
    CTerminalFrontEnd::interrupt();
    EXPECT_EQ(ui.stopRequest(), CScanFrontEnd::StopRequest::Abandon);
    // The third is not ignored: it ends the program at once, as abandoned.
    EXPECT_EXIT(CTerminalFrontEnd::interrupt(), testing::ExitedWithCode(6), "ending at once");
    EXPECT_EQ(ui.stopRequest(), CScanFrontEnd::StopRequest::Abandon);
}

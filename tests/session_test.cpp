#include <gtest/gtest.h>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

TEST(Session, StartsProgramAndEndsOnO) {
    DeviceSession session({"prog"});
    EXPECT_EQ(session.start_sequence, std::string("Cprog\0", 6));
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(milliseconds(3000)), 0);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

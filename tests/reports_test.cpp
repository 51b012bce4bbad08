#include <gtest/gtest.h>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

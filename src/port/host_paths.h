// Where the tool looks for the host's devices, their descriptions in
// sysfs and the lock files other terminal programs leave. A normal build
// uses /dev, /sys, /run/lock and /var/lock; the test build points them
// into a tree of its own, so tests never see or touch the host's ports.
#pragma once

#include <string>
#include <vector>

// The directory of device files ("/dev").
const std::string& dev_root();

// The root of sysfs ("/sys").
const std::string& sysfs_root();

// The directories where serial lock files "LCK..<name>" live, in the order
// they are searched ("/run/lock", "/var/lock").
const std::vector<std::string>& lock_dirs();

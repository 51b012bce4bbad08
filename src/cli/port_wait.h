// --wait: a port that is not there yet or that another program holds is
// waited for instead of refused.
#pragma once

#include <memory>
#include <optional>

#include "port_open.h"

// take_port_for_run, tried again a few times a second while the refusal is
// one that waiting can end (its failure says what waiting could bring),
// for at most wait_seconds (nothing: one try, as without --wait). Says once
// what it waits for, again only when that changes. The ending signals are
// not held back between tries, so Ctrl-C ends the wait at once with
// nothing of ours left. Past the limit, the last try's failure.
Result<std::unique_ptr<DeviceLine>> take_port_waiting(const PortChoice& port,
                                                      const std::string& program_name,
                                                      const BoardLines& lines,
                                                      std::optional<int> wait_seconds);

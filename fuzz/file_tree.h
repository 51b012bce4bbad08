// The small fixed tree of source files the fuzzed sessions ask for, and the
// exact reply the tool owes for each.
#pragma once

#include <optional>
#include <string>

// Creates the tree under a new temporary directory (removed at exit) and
// returns that directory's path. Aborts when it cannot be created.
std::string create_file_tree();

// The exact bytes of the reply to a request whose file name, extension
// included, is `file_name`, resolved from the tree's directory: "E" for a name that names nothing,
// the fixed reply for a file or directory of the tree. Nothing when the name resolves to something
// outside the tree, whose content is not known here.
std::optional<std::string> expected_reply(const std::string& file_name);

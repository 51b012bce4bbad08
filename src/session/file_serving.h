// How the session serves the device's file requests, as the user set it.
#pragma once

#include <string>
#include <vector>

struct FileServing {
    // Where a name that does not start with '/' is looked for after the
    // current directory, in order (-I directories, then LORVRC_PATH's).
    std::vector<std::string> search_dirs;
    // Tell the user, one line per request, what was sent or why not.
    bool verbose = false;
};

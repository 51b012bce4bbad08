// The file the device asked for last, as the session remembers it for the
// error report.
#pragma once

#include <string>

struct ServedFile {
    std::string name; // as the device asked for it, with the extension; empty before any request
    std::string path; // the file that was opened and sent; empty when the request was refused
};

// What the device says for the user: error reports and trace text.
#pragma once

#include <string>

#include "device_line.h"
#include "error_format.h"
#include "line_index.h"
#include "served_file.h"

// Prints the device's error report as one line on standard error, on a
// line of its own (a newline first when trace text left one open). Plain:
// "Error <current directory>\<current.name> <message>" (for a file served
// from a search directory or by the case rule: "Error <its directory>\<its
// name> <message>"), everything up to the blank shown before the payload is
// read. gnu and github: the line error_line() makes once the payload is
// read, pointing at the place served.place_of() finds for the message, its
// path for editors. The message is the payload after its first comma (all
// of it when it has none), byte for byte. "(unknown directory)" stands for
// a directory that cannot be fetched. Of the payload 64 KiB are kept; the
// rest is read and counted, and " [N more bytes cut]" ends the line.
// Nothing after the payload's 0 byte is read. Throws LinkLost; the line
// is then printed first with as much of the payload as had come.
void print_error_report(DeviceLine& line, const ServedFile& current, const ServedLines& served,
                        ErrorFormat format);

// Copies trace text to standard error byte by byte as it arrives, up to
// its 0 byte; adds nothing. Throws LinkLost.
void print_trace_text(DeviceLine& line);

// The device asks for its source files by name; these answer it.
#pragma once

#include "device_line.h"
#include "file_serving.h"
#include "line_index.h"
#include "served_file.h"

// Serves one file request, command 'M' (.bas), 'I' (.inc) or 'A' (.app):
// reads the name from the device, sets current.name to it with the
// extension (before the file is looked for, so a refused name is
// remembered too) and current.path to the file opened (empty when
// refused), and sends the reply: "E" alone when no file is found the way
// file_lookup.h looks, else "O", each line ended by one CR, then a 0 byte.
// Every line goes the way of source_lines.h and device_text.h; one that
// does not fit is left out whole, with a warning that gives its length in
// Windows-1252. A failing read, or a file whose size or modification time
// changed while it was sent, is reported when the reply has ended;
// warnings name the file as opened. With serving.verbose, one line tells
// what was sent and from where, or why nothing was; the case rule's
// refusal is told either way. Throws LinkLost when the line fails while
// the name is read or the reply sent.
// A file that was sent is remembered in `served` with its numbered lines.
void serve_file_request(DeviceLine& line, int command, const FileServing& serving,
                        ServedFile& current, ServedLines& served);

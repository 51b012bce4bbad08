// The device asks for its source files by name; these answer it.
#pragma once

#include "line_index.h"
#include "served_file.h"

// Serves one file request, command 'M' (.bas), 'I' (.inc) or 'A' (.app):
// reads the name from the device, sets current.name to it with the
// extension (before the file is opened, so a refused name is remembered
// too) and current.path to the file sent (empty when refused), and sends the reply: "E" alone when
// the file cannot be opened or is no regular file, else "O", each line ended by one CR, then a 0
// byte. Every line goes the way of device_text.h; one that does not fit is left out whole, with a
// warning that gives its length in Windows-1252. A failing read or a file that changed while it was
// sent is reported when the reply has ended. Throws LinkLost when the line fails while the name is
// read or the reply sent.
// A file that was sent is remembered in `served` with its numbered lines.
void serve_file_request(int port, int command, ServedFile& current, ServedLines& served);

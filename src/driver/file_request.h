// The device asks for its source files by name; these answer it.
#pragma once

#include <string>

// Serves one file request, command 'M' (.bas), 'I' (.inc) or 'A' (.app):
// reads the name from the device, sets current_file_name to it with the
// extension (before the file is opened, so a refused name is remembered
// too) and sends the reply. Throws LinkLost when the line fails while the
// name is read or the reply sent.
void serve_file_request(int port, int command, std::string& current_file_name);

// Sends the file reply: "E" alone when the file cannot be opened or is no
// regular file, else "O", each line ended by one CR, then a 0 byte. A line
// that is UTF-8 goes out in Windows-1252 (characters it cannot hold as
// blanks, with a warning), every line then in device codes. A line longer
// than the device takes is left out whole, with a warning. A failing read
// ends the reply after the last whole line, with a warning; a file that
// turns out shorter than it was at the open is sent as far as it goes, with
// a warning. Throws LinkLost when a
// byte cannot be written; the reply is then cut short.
void send_file(int port, const std::string& file_name);

// The device asks for its source files by name; these answer it.
#pragma once

#include <string>

// Serves one file request, command 'M' (.bas), 'I' (.inc) or 'A' (.app):
// reads the name from the device, sets current_file_name to it with the
// extension (before the file is opened, so a refused name is remembered
// too) and sends the reply. Throws LinkLost when the line fails while the
// name is read.
void serve_file_request(int port, int command, std::string& current_file_name);

// Sends the file reply: "E" alone when the file cannot be opened, else "O",
// each line in device codes ended by one CR, then a 0 byte. A line longer
// than the device takes is left out whole, and a warning naming it goes to
// standard error. Write results are not examined.
void send_file(int port, const std::string& file_name);

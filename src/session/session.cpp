#include "session.h"

#include "device_link.h"
#include "file_request.h"
#include "reports.h"

int serve_device(DeviceLine& line, char start_byte, const DeviceText& program_name,
                 const SessionSettings& settings) {
    set_patience(settings.patience);
    send_start_sequence(line, start_byte, program_name);
    ServedFile current;
    ServedLines served;
    for (;;) {
        const int command = next_byte(line);
        switch (command) {
        case 'M':
        case 'I':
        case 'A': serve_file_request(line, command, settings.files, current, served); break;
        case 'T': print_trace_text(line); break;
        case 'E': print_error_report(line, current, served, settings.error_format); return 1;
        case 'O': return 0;
        default: break; // a 0 byte, or any byte that is no command
        }
    }
}

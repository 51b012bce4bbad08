#include "program_name.h"

#include <utility>

#include "serial.h"
#include "user_output.h"
#include "utf8_to_cp1252.h"

std::optional<std::string> program_name_for_device(const std::string& typed) {
    Cp1252Text name = utf8_to_cp1252(typed);
    if (name.bytes.size() > SERIAL_TEXT_MAX) {
        tell_user("the program name is " + std::to_string(name.bytes.size()) +
                  " bytes long; the device takes at most " + std::to_string(SERIAL_TEXT_MAX));
        return std::nullopt;
    }
    if (name.first_unheld != 0) {
        tell_user("the program name holds characters the device cannot show (" +
                  code_point_name(name.first_unheld) + "); sent as blanks");
    }
    return std::move(name.bytes);
}

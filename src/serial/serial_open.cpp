#include "serial_table.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Speed {
    std::int32_t baud;
    speed_t constant;
};

// The speeds every POSIX-style serial driver knows, plus the two common
// fast ones.
constexpr Speed SPEEDS[] = {
    {0, B0},         {50, B50},       {75, B75},         {110, B110},   {134, B134},
    {150, B150},     {200, B200},     {300, B300},       {600, B600},   {1200, B1200},
    {1800, B1800},   {2400, B2400},   {4800, B4800},     {9600, B9600}, {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// Raw channel: no break or parity marking, no stripping, no CR/LF mapping,
// no software flow control on output, no output processing, no echo, no
// line editing, no signals. Everything else stays as the device had it.
void make_raw(termios* settings) {
    settings->c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
}

struct CharacterSize {
    std::int32_t data_bits;
    tcflag_t size_flag;
    std::uint32_t mask;
};

constexpr CharacterSize CHARACTER_SIZES[] = {
    {5, CS5, 0x1F},
    {6, CS6, 0x3F},
    {7, CS7, 0x7F},
    {8, CS8, 0xFF},
};

bool set_data_bits(termios* settings, SerialPort* slot, std::int32_t data_bits) {
    for (const CharacterSize& size : CHARACTER_SIZES) {
        if (size.data_bits == data_bits) {
            settings->c_cflag |= size.size_flag;
            slot->data_mask = size.mask;
            return true;
        }
    }
    return false;
}

bool set_speed(termios* settings, std::int32_t baud) {
    for (const Speed& speed : SPEEDS) {
        if (speed.baud == baud) {
            cfsetispeed(settings, speed.constant);
            cfsetospeed(settings, speed.constant);
            return true;
        }
    }
    return false;
}

bool set_stop_bits(termios* settings, std::int32_t stop_bits) {
    if (stop_bits == 1) {
        settings->c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else if (stop_bits == 2) {
        settings->c_cflag |= CSTOPB;
    } else {
        return false;
    }
    return true;
}

bool set_parity(termios* settings, std::int32_t parity) {
    switch (parity) {
    case PARITY_NONE:
        settings->c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
        settings->c_iflag &= ~static_cast<tcflag_t>(INPCK);
        return true;
    case PARITY_ODD:
        settings->c_cflag |= PARENB | PARODD;
        settings->c_iflag |= INPCK;
        return true;
    case PARITY_EVEN:
        settings->c_cflag |= PARENB;
        settings->c_cflag &= ~static_cast<tcflag_t>(PARODD);
        settings->c_iflag |= INPCK;
        return true;
    default: return false;
    }
}

// Applies the line parameters to settings read from the device.
std::int32_t configure(termios* settings, SerialPort* slot, std::int32_t data_bits,
                       std::int32_t parity, std::int32_t stop_bits, std::int32_t baud,
                       std::uint8_t read_timeout) {
    make_raw(settings);
    if (!set_data_bits(settings, slot, data_bits)) {
        return SERIAL_BAD_ARGUMENT;
    }
    settings->c_cflag |= CREAD | CLOCAL;
    if (!set_speed(settings, baud) || !set_stop_bits(settings, stop_bits) ||
        !set_parity(settings, parity)) {
        return SERIAL_BAD_ARGUMENT;
    }
    settings->c_cc[VTIME] = read_timeout;
    settings->c_cc[VMIN] = 0;
    return SERIAL_OK;
}

// Two programs reading one line each steal the other's bytes. Take the
// lock terminal programs take, before anything on the line is touched, so
// a refused open changes nothing; TIOCEXCL then keeps out the programs
// that take no lock at all.
bool take_line(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0; }

// Every step after the line is taken; the descriptor is in slot->fd.
std::int32_t set_up_line(SerialPort* slot, std::int32_t data_bits, std::int32_t parity,
                         std::int32_t stop_bits, std::int32_t baud, std::uint8_t read_timeout) {
    termios settings{};
    if (tcgetattr(slot->fd, &settings) != 0) {
        return SERIAL_IO_ERROR;
    }
    std::int32_t result =
        configure(&settings, slot, data_bits, parity, stop_bits, baud, read_timeout);
    if (result != SERIAL_OK) {
        return result;
    }
    if (tcflush(slot->fd, TCIOFLUSH) != 0 || tcsetattr(slot->fd, TCSANOW, &settings) != 0) {
        return SERIAL_IO_ERROR;
    }
    // Reads must block again, or the read time-out would not apply.
    const int flags = fcntl(slot->fd, F_GETFL);
    if (flags == -1 || fcntl(slot->fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        return SERIAL_IO_ERROR;
    }
    return SERIAL_OK;
}

} // namespace

std::int32_t serial_open(std::int32_t port, std::int32_t data_bits, std::int32_t parity,
                         std::int32_t stop_bits, std::int32_t baud, std::uint8_t read_timeout) {
    return serial_open_device(port, serial_device_path(port), data_bits, parity, stop_bits, baud,
                              read_timeout);
}

std::int32_t serial_open_device(std::int32_t port, const std::string& path, std::int32_t data_bits,
                                std::int32_t parity, std::int32_t stop_bits, std::int32_t baud,
                                std::uint8_t read_timeout) {
    std::int32_t result = SERIAL_OK;
    if (serial_detail::slot_for(port, &result) == nullptr) {
        return result;
    }
    serial_close(port);
    // O_NOCTTY: the line must never become our controlling terminal, or a
    // hang-up would kill us with SIGHUP before we could say what happened.
    // O_NONBLOCK: a port left without CLOCAL would block the open until
    // carrier comes; it is cleared again once CLOCAL is set.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return SERIAL_IO_ERROR;
    }
    return serial_open_descriptor(port, fd, data_bits, parity, stop_bits, baud, read_timeout);
}

std::int32_t serial_open_descriptor(std::int32_t port, int fd, std::int32_t data_bits,
                                    std::int32_t parity, std::int32_t stop_bits, std::int32_t baud,
                                    std::uint8_t read_timeout) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = serial_detail::slot_for(port, &result);
    if (slot == nullptr) {
        close(fd);
        return result;
    }
    serial_close(port);
    slot->fd = fd;
    const bool taken = take_line(slot->fd);
    result = taken ? set_up_line(slot, data_bits, parity, stop_bits, baud, read_timeout)
                   : SERIAL_IO_ERROR;
    if (result != SERIAL_OK) {
        // Keep the failing call's errno for the caller's message. Only a
        // line we took carries our TIOCEXCL: a refused open must not lift
        // another program's.
        const int saved_errno = errno;
        if (taken) {
            serial_detail::release(slot->fd);
        } else {
            close(slot->fd);
        }
        errno = saved_errno;
        return result;
    }
    slot->is_open = 1;
    slot->pushback = -1;
    return SERIAL_OK;
}

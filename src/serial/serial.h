// Serial port module: numbered serial ports 0 to 15, opened raw.
//
// How it works: a fixed table of 16 slots in static storage; slot n stands
// for the device file "<prefix>n" (normally "/dev/ttySn"). Every operation
// names its port by number. The table initialises itself on first use.
//
// Error model: every operation returns a signed result code. 0 or more is
// success (serial_getc returns the byte read, 0 to 255); every failure is
// one of the negative SERIAL_* codes below. The module prints nothing,
// throws nothing and never ends the program. After a failing system call
// errno still holds that call's error, so the caller can name it.
//
//   serial_init     mark every slot closed (runs by itself on first use)
//   serial_open     open and configure a port; closes it first if open
//   serial_open_device   the same for any device file, in a given slot
//   serial_open_descriptor   the same for a device file the caller opened
//   serial_close    close a port; closing a closed port is no error
//   serial_putc     write one byte
//   serial_puts     write a text of at most 300 bytes plus a line end
//   serial_write    write what the line takes of a block, waiting a bounded time
//   serial_getc     read one byte, waiting at most the read time-out
//   serial_gets     read one line into a caller's buffer
//   serial_ungetc   push one character back for the next serial_getc
//   serial_set_modem_line   raise or lower DTR or RTS
//   serial_keep_lines_at_close   clear HUPCL: closing leaves DTR and RTS
//   serial_discard_input   drop what came in and was not read yet
//   serial_input_waiting   count what came in and was not read yet
//   serial_device_path   the device file that a port number stands for
#pragma once

#include <cstdint>
#include <string>

// One slot of the port table.
struct SerialPort {
    std::int32_t fd;         // device descriptor; meaningful only while open
    std::uint32_t data_mask; // ANDed onto every byte read from the line
    std::int32_t is_open;    // 1 while open, 0 when closed
    std::int32_t pushback;   // pushed-back character; negative when none
};

// Sixteen ports cover every ttyS device a PC-style host names by default.
constexpr int SERIAL_PORT_COUNT = 16;
// Longest text serial_puts accepts, line end not counted.
constexpr int SERIAL_TEXT_MAX = 300;

// Result codes. There is deliberately no -3.
constexpr std::int32_t SERIAL_OK = 0;
constexpr std::int32_t SERIAL_NO_DATA = -1;
constexpr std::int32_t SERIAL_IO_ERROR = -2;
constexpr std::int32_t SERIAL_NOT_OPEN = -4;
constexpr std::int32_t SERIAL_TOO_LONG = -5;
constexpr std::int32_t SERIAL_BAD_ARGUMENT = -6;

// Line ends appended by serial_puts; any other value appends nothing.
constexpr std::int32_t LINE_END_NONE = 0;
constexpr std::int32_t LINE_END_CR = 1;
constexpr std::int32_t LINE_END_LF = 2;
constexpr std::int32_t LINE_END_CRLF = 3;
constexpr std::int32_t LINE_END_LFCR = 4;

// Modem control lines for serial_set_modem_line.
constexpr std::int32_t MODEM_LINE_DTR = 1;
constexpr std::int32_t MODEM_LINE_RTS = 2;

// Parity codes for serial_open.
constexpr std::int32_t PARITY_NONE = 0;
constexpr std::int32_t PARITY_ODD = 1;
constexpr std::int32_t PARITY_EVEN = 2;

// Marks all 16 slots closed (other fields are left alone). Every other
// operation calls it on first use; callers never need to.
void serial_init();

// Opens "<prefix><port>" read-write (never as the controlling terminal,
// and without waiting for carrier), takes an exclusive flock on it (held
// until the port is closed), sets TIOCEXCL so that programs which take no
// lock cannot open it either (root still can), and makes it a raw line: no echo, no
// signals, no translation of input or output, receiver on, modem lines
// ignored; every other setting keeps the device's value. data_bits 5..8,
// parity PARITY_*, stop_bits 1 or 2, baud one of 0, 50, 75, 110, 134, 150,
// 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200;
// read_timeout in tenths of a second (0: reads return at once). Pending
// input and output are discarded.
// Returns SERIAL_OK; SERIAL_BAD_ARGUMENT for a port outside 0..15 or a bad
// line parameter (tested after the device is opened and its settings read,
// in the order data bits, speed, stop bits, parity); SERIAL_IO_ERROR when
// opening (errno EBUSY: another program set TIOCEXCL), locking (errno
// EWOULDBLOCK: another program holds the port), setting TIOCEXCL, reading
// the settings, flushing or applying them, or making reads block again
// fails (errno is that call's). An open port is closed first; after any
// failure the slot is closed and the device file is not left open.
std::int32_t serial_open(std::int32_t port, std::int32_t data_bits, std::int32_t parity,
                         std::int32_t stop_bits, std::int32_t baud, std::uint8_t read_timeout);

// As serial_open, but the slot `port` stands for the device file `path`
// (any path: /dev/ttyUSB0, a link such as /dev/serial/by-id/..., a
// relative path) until it is closed. serial_open(port, ...) is
// serial_open_device(port, serial_device_path(port), ...). Results, errno
// and the state after a failure are those of serial_open.
std::int32_t serial_open_device(std::int32_t port, const std::string& path, std::int32_t data_bits,
                                std::int32_t parity, std::int32_t stop_bits, std::int32_t baud,
                                std::uint8_t read_timeout);

// As serial_open_device, for a device file the caller has opened (as it
// does: O_RDWR | O_NOCTTY | O_NONBLOCK), e.g. to look at it first; the
// slot takes the descriptor over. Results, errno and the state after a
// failure are those of serial_open; after a failure fd is closed.
std::int32_t serial_open_descriptor(std::int32_t port, int fd, std::int32_t data_bits,
                                    std::int32_t parity, std::int32_t stop_bits, std::int32_t baud,
                                    std::uint8_t read_timeout);

// Clears TIOCEXCL (a pseudo-terminal would otherwise keep it after we
// close) and closes the port. Returns SERIAL_OK (also for a port that was not open),
// SERIAL_BAD_ARGUMENT for a port outside 0..15, SERIAL_IO_ERROR when close
// fails; the slot is closed either way. The result may be ignored when the
// program is about to end anyway.
std::int32_t serial_close(std::int32_t port);

// Writes the low 8 bits of c with one write. Returns SERIAL_OK,
// SERIAL_BAD_ARGUMENT, SERIAL_NOT_OPEN, or SERIAL_IO_ERROR when the byte
// was not written (no retry).
std::int32_t serial_putc(std::int32_t port, std::int32_t c);

// Writes the first bytes of data[0..size) that the line takes without
// blocking, waiting up to wait_ms for it to take any (a full output
// buffer: a device or flow control that holds the host back). Returns how
// many were taken, 0 when none were within the wait (not an error), or
// SERIAL_BAD_ARGUMENT (also for a negative size or wait), SERIAL_NOT_OPEN,
// or SERIAL_IO_ERROR when the write failed or the line hung up, after
// which an unknown part of the bytes has gone out. The descriptor's own
// blocking mode is as before after every call.
std::int32_t serial_write(std::int32_t port, const char* data, std::int32_t size,
                          std::int32_t wait_ms);

// Writes text (up to its first 0 byte) and then the line end, one byte per
// write. Returns SERIAL_TOO_LONG, before any other test and with nothing
// written, when text is longer than SERIAL_TEXT_MAX; else SERIAL_OK or the
// first failing serial_putc's code, in which case the bytes before the
// failing one have gone out and the rest has not.
std::int32_t serial_puts(std::int32_t port, const char* text, std::int32_t line_end);

// Returns the pushed-back character if there is one (unmasked, nothing is
// read), else reads one byte and returns it ANDed with the data mask.
// SERIAL_NO_DATA: the read time-out passed without a byte (not an error).
// SERIAL_IO_ERROR: the read failed, or the line has hung up (the far end
// is gone); this result comes back on every later call.
// SERIAL_NOT_OPEN, SERIAL_BAD_ARGUMENT: as for serial_putc.
std::int32_t serial_getc(std::int32_t port);

// Reads characters into buf (capacity size, terminating zero included, at
// least 1) until CR or LF (not stored) or until size - 1 are stored.
// Each character may take up to `retries` reads that time out (at least
// one read). Returns SERIAL_OK, SERIAL_NO_DATA when `retries` reads in a
// row timed out, or any other failure of serial_getc. buf always holds the
// characters stored so far, zero-terminated.
std::int32_t serial_gets(std::int32_t port, char* buf, std::int32_t size, std::int32_t retries);

// Makes c the next character serial_getc returns; one character of
// push-back, a second call replaces the first, a negative c clears it.
// Returns SERIAL_OK, SERIAL_BAD_ARGUMENT or SERIAL_NOT_OPEN.
std::int32_t serial_ungetc(std::int32_t port, std::int32_t c);

// Raises (on != 0) or lowers the modem control line `line` (MODEM_LINE_DTR
// or MODEM_LINE_RTS) of an open port; it stays so until changed or, with
// HUPCL set, until the close lowers both. Returns SERIAL_OK;
// SERIAL_BAD_ARGUMENT for a port outside 0..15 or another line;
// SERIAL_NOT_OPEN; SERIAL_IO_ERROR when the driver refuses (errno ENOTTY or
// EINVAL: the port has no modem control lines, as a pseudo-terminal), the
// line then as it was.
std::int32_t serial_set_modem_line(std::int32_t port, std::int32_t line, std::int32_t on);

// Clears HUPCL on an open port, so closing it leaves DTR and RTS as they
// are. The driver keeps the setting for later opens (a pseudo-terminal's
// goes with it), as after "stty -hupcl". Returns SERIAL_OK,
// SERIAL_BAD_ARGUMENT, SERIAL_NOT_OPEN, or SERIAL_IO_ERROR when reading or
// applying the settings fails (they are then unchanged).
std::int32_t serial_keep_lines_at_close(std::int32_t port);

// Discards the pushed-back character and every byte the line has received
// and not yet handed to serial_getc. Returns SERIAL_OK, SERIAL_BAD_ARGUMENT,
// SERIAL_NOT_OPEN, or SERIAL_IO_ERROR when the flush fails (the push-back
// is gone either way).
std::int32_t serial_discard_input(std::int32_t port);

// How many bytes the line has received and not yet handed to serial_getc,
// the pushed-back character included. Returns that count (0 or more),
// SERIAL_BAD_ARGUMENT, SERIAL_NOT_OPEN, or SERIAL_IO_ERROR when the driver
// cannot say.
std::int32_t serial_input_waiting(std::int32_t port);

// The path of the device file for a port number, e.g. "/dev/ttyS1";
// formed for any number, in range or not. Opens nothing.
std::string serial_device_path(std::int32_t port);

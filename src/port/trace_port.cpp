#include "port/trace_port.h"

#include <cstring>

namespace rombolt {

namespace {
constexpr std::size_t kTraceBuffer = 1 << 20;
const char kHex[] = "0123456789abcdef";

// Lower-case hex without leading zeros (at least one digit).
char* PutHex(char* p, unsigned v, int minDigits) {
    int digits = 1;
    while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
    if (digits < minDigits) digits = minDigits;
    *p++ = '0';
    *p++ = 'x';
    for (int i = digits - 1; i >= 0; --i) *p++ = kHex[(v >> (4 * i)) & 15];
    return p;
}
}  // namespace

int FormatTraceLine(char* buf, const char* op, std::uint16_t port, unsigned value, int digits) {
    char* p = buf;
    std::size_t n = std::strlen(op);
    std::memcpy(p, op, n);
    p += n;
    *p++ = ' ';
    p = PutHex(p, port, 1);
    *p++ = ' ';
    p = PutHex(p, value, digits);
    return static_cast<int>(p - buf);
}

TracePort::TracePort(PortBackend& inner, std::FILE* out)
    : inner_(inner), out_(out), buffer_(new char[kTraceBuffer]) {
    std::setvbuf(out_, buffer_.get(), _IOFBF, kTraceBuffer);
}

TracePort::~TracePort() { Close(); }

bool TracePort::Close() {
    if (!out_) return !failed_;
    if (std::fclose(out_) != 0) failed_ = true;
    out_ = nullptr;
    return !failed_;
}

void TracePort::Line(const char* op, std::uint16_t port, unsigned value, int digits) {
    if (!out_) return;
    char line[40];
    int n = FormatTraceLine(line, op, port, value, digits);
    line[n++] = '\n';
    if (fwrite_unlocked(line, 1, static_cast<std::size_t>(n), out_) != static_cast<std::size_t>(n))
        failed_ = true;
}

std::uint8_t TracePort::inb(std::uint16_t port) {
    std::uint8_t v = inner_.inb(port);
    Line("inb", port, v, 2);
    return v;
}

void TracePort::outb(std::uint16_t port, std::uint8_t value) {
    Line("outb", port, value, 2);
    inner_.outb(port, value);
}

std::uint16_t TracePort::inw(std::uint16_t port) {
    std::uint16_t v = inner_.inw(port);
    Line("inw", port, v, 4);
    return v;
}

void TracePort::outw(std::uint16_t port, std::uint16_t value) {
    Line("outw", port, value, 4);
    inner_.outw(port, value);
}

}  // namespace rombolt

// A port back end that passes every access on to another one and writes it
// to a text file, one line per access:
//   outb 0x37a 0x01 / inb 0x379 0x48 / outw 0x37c 0x1234 / inw 0x37c 0x1234
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "port/ioport.h"

namespace rombolt {

class TracePort final : public PortBackend {
public:
    // Takes ownership of `out` (closed by the destructor or Close).
    TracePort(PortBackend& inner, std::FILE* out);
    ~TracePort() override;

    std::uint8_t inb(std::uint16_t port) override;
    void outb(std::uint16_t port, std::uint8_t value) override;
    std::uint16_t inw(std::uint16_t port) override;
    void outw(std::uint16_t port, std::uint16_t value) override;
    std::string Name() const override { return inner_.Name(); }
    std::string Failure() const override { return inner_.Failure(); }
    void ClearFailure() override { inner_.ClearFailure(); }
    bool Persist(std::string& why) override { return inner_.Persist(why); }

    // Flushes and closes the file; false when anything failed to be written.
    bool Close();

private:
    void Line(const char* op, std::uint16_t port, unsigned value, int digits);

    PortBackend& inner_;
    std::FILE* out_;
    std::unique_ptr<char[]> buffer_;
    bool failed_ = false;
};

// Formats one trace line (without the newline) into buf; returns its length.
// Exposed for the tests.
int FormatTraceLine(char* buf, const char* op, std::uint16_t port, unsigned value, int digits);

}  // namespace rombolt

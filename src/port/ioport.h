// Raw printer port access: the four primitives every adapter cycle is made of,
// the back-end interface they go through, and the register addresses of the
// chosen port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rombolt {

// One port back end: the simulated adapter, direct I/O, ppdev, "no hardware",
// or a wrapper (recording, counting, tracing) around another back end.
// The four calls sit in the innermost loop of every transfer: implementations
// must not allocate, log or lock per access.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual std::uint8_t inb(std::uint16_t port) = 0;
    virtual void outb(std::uint16_t port, std::uint8_t value) = 0;
    // One 16-bit I/O cycle (not two byte cycles).
    virtual std::uint16_t inw(std::uint16_t port) = 0;
    virtual void outw(std::uint16_t port, std::uint16_t value) = 0;
    // Human-readable name for logs and `rombolt info`.
    virtual std::string Name() const { return "port"; }
    // The first access that failed since the last ClearFailure, as one line
    // naming the call and the error (a ppdev device call the kernel refused);
    // empty while every access went through. Back ends whose accesses cannot
    // fail keep it empty. Looked at between blocks, never per access.
    virtual std::string Failure() const { return {}; }
    virtual void ClearFailure() {}
    // Makes the cart's changes lasting before an operation reports success:
    // a simulated cart writes its files back. Hardware has nothing to do.
    // False, with `why` a line for the log, when that fails.
    virtual bool Persist(std::string& why) {
        (void)why;
        return true;
    }
};

// Reads return 0xFF (floating lines), writes go nowhere: lets the program run
// anywhere, and every operation then reports "No Adaptor Found!".
class NullPort final : public PortBackend {
public:
    std::uint8_t inb(std::uint16_t) override { return 0xFF; }
    void outb(std::uint16_t, std::uint8_t) override {}
    std::uint16_t inw(std::uint16_t) override { return 0xFFFF; }
    void outw(std::uint16_t, std::uint16_t) override {}
    std::string Name() const override { return "none"; }
};

// Forwards every access to an inner back end and records it. For tests that
// check exact port sequences.
class RecordingPort final : public PortBackend {
public:
    enum class Kind : std::uint8_t { InB, OutB, InW, OutW };
    struct Access {
        Kind kind;
        std::uint16_t port;
        std::uint16_t value;
        bool operator==(const Access&) const = default;
    };

    explicit RecordingPort(PortBackend& inner) : inner_(inner) { log.reserve(1 << 16); }

    std::uint8_t inb(std::uint16_t port) override {
        std::uint8_t v = inner_.inb(port);
        log.push_back({Kind::InB, port, v});
        return v;
    }
    void outb(std::uint16_t port, std::uint8_t value) override {
        log.push_back({Kind::OutB, port, value});
        inner_.outb(port, value);
    }
    std::uint16_t inw(std::uint16_t port) override {
        std::uint16_t v = inner_.inw(port);
        log.push_back({Kind::InW, port, v});
        return v;
    }
    void outw(std::uint16_t port, std::uint16_t value) override {
        log.push_back({Kind::OutW, port, value});
        inner_.outw(port, value);
    }
    std::string Name() const override { return inner_.Name(); }
    std::string Failure() const override { return inner_.Failure(); }
    void ClearFailure() override { inner_.ClearFailure(); }
    bool Persist(std::string& why) override { return inner_.Persist(why); }

    std::vector<Access> log;

private:
    PortBackend& inner_;
};

// The four primitives. A port number is an int of which only the low 16 bits
// address the port; word values likewise keep only their low 16 bits.
inline std::uint8_t inportb(PortBackend& p, int port) { return p.inb(static_cast<std::uint16_t>(port)); }
inline void outportb(PortBackend& p, int port, unsigned char value) {
    p.outb(static_cast<std::uint16_t>(port), value);
}
inline int inport(PortBackend& p, int port) { return p.inw(static_cast<std::uint16_t>(port)); }
inline void outport(PortBackend& p, int port, int value) {
    p.outw(static_cast<std::uint16_t>(port), static_cast<std::uint16_t>(value));
}

// Base address for a PortIndex: 0 -> 0x378, 1 -> 0x278, 2 -> 0x3BC, anything else 0x378.
int PortBaseForIndex(int portIndex);

}  // namespace rombolt

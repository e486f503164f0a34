// A bench for the cart commands: a simulated cart with a scripted front end,
// a scratch directory for image, patch and save files, and the expected cart
// bytes of an image as the write path prepares it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "image/header.h"
#include "support/game_images.h"
#include "support/sim_fixture.h"

namespace rombolt::test {

struct IpsPart {
    std::uint32_t offset;
    std::vector<std::uint8_t> data;
};

inline std::vector<std::uint8_t> IpsBytes(const std::vector<IpsPart>& parts) {
    std::vector<std::uint8_t> out = {'P', 'A', 'T', 'C', 'H'};
    for (const IpsPart& p : parts) {
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(p.offset >> 16), static_cast<std::uint8_t>(p.offset >> 8),
                    static_cast<std::uint8_t>(p.offset), static_cast<std::uint8_t>(p.data.size() >> 8),
                    static_cast<std::uint8_t>(p.data.size())});
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    out.insert(out.end(), {'E', 'O', 'F'});
    return out;
}

struct OpBench {
    explicit OpBench(const SimConfig& config, const std::string& tag = "ops")
        : f(config), dir(tag), s(f.s), ui(f.ui) {}

    // Writes a file into the scratch directory and returns its path.
    std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        WriteFileBytes(dir.path() / name, bytes);
        return (dir.path() / name).string();
    }
    // Makes the image the one row of the game list.
    void OneGame(const std::string& name, const std::vector<std::uint8_t>& image) {
        File(name, image);
        GameRow row;
        row.Name = name;
        row.DirectoryPath = dir.str();
        row.Size = std::to_string(image.size());
        row.GType = "GBA";
        s.GameList = {row};
    }

    // The image as it lands in the cart: lengthened to the end of the
    // patch's last record, padded to whole chunks, both with 0xFF, its header
    // checked and repaired as the write does, then patched.
    std::vector<std::uint8_t> Prepared(const std::vector<std::uint8_t>& image,
                                       const std::vector<IpsPart>& patch = {}) const {
        std::vector<std::uint8_t> out = image;
        for (const IpsPart& p : patch) out.resize(std::max(out.size(), p.offset + p.data.size()), 0xFF);
        out.resize((out.size() + 32767) / 32768 * 32768, 0xFF);
        if (!out.empty()) {
            AppState scratch;
            SilentFrontend quiet;
            scratch.UI = &quiet;
            scratch.Config.FixRom = s.Config.FixRom;
            std::copy(out.begin(), out.begin() + 32768, scratch.ChunkBuffer.bytes.begin());
            CheckCartHeader(scratch, HeaderCheck::Repair);
            std::copy(scratch.ChunkBuffer.bytes.begin(), scratch.ChunkBuffer.bytes.end(), out.begin());
        }
        for (const IpsPart& p : patch) std::copy(p.data.begin(), p.data.end(), out.begin() + p.offset);
        return out;
    }

    std::vector<std::uint8_t> Cart(std::size_t offset, std::size_t n) {
        auto& fl = f.sim().Flash();
        return {fl.begin() + static_cast<std::ptrdiff_t>(offset),
                fl.begin() + static_cast<std::ptrdiff_t>(offset + n)};
    }
    std::vector<std::uint8_t>& Flash() { return f.sim().Flash(); }

    SimFixture f;
    TempDir dir;
    AppState& s;
    FakeFrontend& ui;
};

// A configuration whose flash starts out full of a pattern instead of 0xFF, so
// that a missing erase or a skipped chunk shows.
inline SimConfig DirtyCart(const std::string& model, const std::string& save = "64K") {
    SimConfig c = SimConfigFor(model, save);
    SimModelInfo info;
    LookupSimModel(model, info);
    c.rom.resize(info.capacityBytes);
    FillPattern(c.rom, 0xD1127);
    return c;
}

}  // namespace rombolt::test

#include "mgba_harness.h"

// flags.h first: it decides the layout of the structures in the other headers.
#include <mgba/flags.h>
// clang-format off
#include <mgba/core/core.h>
#include <mgba/core/config.h>
#include <mgba/core/log.h>
#include <mgba-util/vfs.h>
// clang-format on

#include <zlib.h>

#include <cstdarg>
#include <fstream>
#include <set>

namespace rombolt::test {

namespace {

static_assert(sizeof(color_t) == 4, "the harness reads 32-bit pixels");

// mGBA's messages ("Out of bounds ROM Load16" past the end of a cart, unknown
// registers in GB mode) are no failures; the tests look at the console's state.
void Quiet(struct mLogger*, int, enum mLogLevel, const char*, va_list) {}
struct mLogger quietLogger = {Quiet, nullptr};

// ---------------------------------------------------------------- PNG

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    Put32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Put32(png, Crc32(body.data(), body.size()));
}

}  // namespace

std::unique_ptr<Emulator> Emulator::Boot(const std::vector<std::uint8_t>& image, GbModel model) {
    mLogSetDefaultLogger(&quietLogger);
    struct VFile* vf = VFileMemChunk(image.data(), image.size());
    if (vf == nullptr) return nullptr;
    struct mCore* core = mCoreFindVF(vf);
    if (core == nullptr || !core->init(core)) {
        vf->close(vf);
        return nullptr;
    }
    std::unique_ptr<Emulator> e(new Emulator);
    e->core_ = core;
    mCoreInitConfig(core, nullptr);
    // A colour-flagged GB image follows cgb.hybridModel; the others cover the rest.
    const char* name = model == GbModel::Colour ? "CGB" : "DMG";
    for (const char* key : {"gb.model", "cgb.model", "cgb.hybridModel", "sgb.model", "cgb.sgbModel"})
        mCoreConfigSetValue(&core->config, key, name);
    core->loadConfig(core, &core->config);
    unsigned rows = 0;
    core->desiredVideoDimensions(core, &e->stride_, &rows);
    e->frame_.assign(static_cast<std::size_t>(e->stride_) * rows, 0);
    core->setVideoBuffer(core, reinterpret_cast<color_t*>(e->frame_.data()), e->stride_);
    const bool gb = core->platform(core) == mPLATFORM_GB;
    e->width_ = gb ? 160 : e->stride_;
    e->height_ = gb ? 144 : rows;
    if (!core->loadROM(core, vf)) return nullptr;
    core->reset(core);
    return e;
}

Emulator::~Emulator() {
    if (core_ == nullptr) return;
    mCoreConfigDeinit(&core_->config);
    core_->deinit(core_);
}

void Emulator::RunFrames(int n) {
    for (int i = 0; i < n; ++i) core_->runFrame(core_);
}

void Emulator::SetKeys(std::uint32_t keys) { core_->setKeys(core_, keys); }

std::uint16_t Emulator::Read16(std::uint32_t address) {
    return static_cast<std::uint16_t>(core_->busRead16(core_, address));
}

std::uint32_t Emulator::Pixel(unsigned x, unsigned y) const {
    const std::uint32_t c = frame_[static_cast<std::size_t>(y) * stride_ + x];  // 0x00BBGGRR
    return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

int Emulator::DistinctColours() const {
    std::set<std::uint32_t> colours;
    for (unsigned y = 0; y < height_; ++y)
        for (unsigned x = 0; x < width_; ++x) colours.insert(Pixel(x, y));
    return static_cast<int>(colours.size());
}

bool Emulator::WritePng(const std::string& path) const {
    std::vector<std::uint32_t> palette;
    std::vector<std::uint8_t> raw;
    const unsigned w = 2 * width_, h = 2 * height_;
    for (unsigned y = 0; y < h; ++y) {
        raw.push_back(0);  // no filter
        for (unsigned x = 0; x < w; ++x) {
            const std::uint32_t c = Pixel(x / 2, y / 2);
            std::size_t i = 0;
            while (i < palette.size() && palette[i] != c) ++i;
            if (i == palette.size()) {
                if (palette.size() == 256) return false;
                palette.push_back(c);
            }
            raw.push_back(static_cast<std::uint8_t>(i));
        }
    }
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    Put32(header, w);
    Put32(header, h);
    header.insert(header.end(), {8, 3, 0, 0, 0});  // 8-bit palette indices
    Chunk(png, "IHDR", header);
    std::vector<std::uint8_t> plte;
    for (std::uint32_t c : palette)
        plte.insert(plte.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                 static_cast<std::uint8_t>(c)});
    Chunk(png, "PLTE", plte);
    std::vector<std::uint8_t> packed(compressBound(raw.size()));
    uLongf packedSize = packed.size();
    if (compress2(packed.data(), &packedSize, raw.data(), raw.size(), 9) != Z_OK) return false;
    packed.resize(packedSize);
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", {});
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(out);
}

}  // namespace rombolt::test

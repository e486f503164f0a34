#include "flash/identify.h"

#include <array>
#include <string>

#include "core/operation.h"
#include "flash/cart_models.h"
#include "flash/flash.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"

namespace rombolt {

namespace {

constexpr std::uint16_t kCmdQuery = 0x98;
constexpr std::uint16_t kCmdReadArray = 0xFF;
constexpr std::uint8_t kIntel = 0x89;
constexpr int kQueryWords = 256;
constexpr std::uint32_t kSecondPairAddress = 0x00400000;
constexpr std::uint32_t kSerialAddress = 0x800000;
constexpr std::uint32_t kSaveCompareAddress = 0x200;

// Reads a run of query words from word address `from` into buffer words
// first..first+255.
void ReadQueryRun(FlashState& s, std::uint32_t from, int first) {
    SetCartAddress(s, from);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    for (int i = 0; i < kQueryWords; ++i) s.ChunkBuffer.setWord(first + i, ReadDataWord(s));
}

// "QRY" in the low bytes of three query words (given as buffer byte offsets)
// and the Intel manufacturer code in byte 0.
bool QuerySignature(const FlashState& s, int q, int r, int y) {
    const auto& b = s.ChunkBuffer.bytes;
    return b[q] == 'Q' && b[r] == 'R' && b[y] == 'Y' && b[0] == kIntel;
}

void SendSerialBit(FlashState& s, int bit) { WriteDataWord(s, static_cast<std::uint16_t>(bit & 1)); }
int ReadSerialBit(FlashState& s) { return ReadDataWord(s) & 1; }

// Serial window at 0x800000 through register 3.
void OpenSerialWindow(FlashState& s, bool fromRomAccess) {
    if (fromRomAccess)
        SetRomAccess(s);
    else
        SetSerialAccess(s);
    SetCartAddress(s, kSerialAddress);
    SetSerialAccess(s);
    SelectRegister(s, kRegData);
}

// 8 bytes of 8 bits each, the first bit read being bit 7.
std::array<std::uint8_t, 8> ReadSerialBytes(FlashState& s) {
    std::array<std::uint8_t, 8> out{};
    for (auto& byte : out) {
        for (int bit = 0; bit < 8; ++bit) byte = static_cast<std::uint8_t>((byte << 1) | ReadSerialBit(s));
    }
    return out;
}

}  // namespace

int IdentifyFlash(FlashState& s, bool showModel) {
    OpenFlashAccess(s);
    s.StopRequested = 0;
    s.Cart.Interleaved = 0;
    s.Cart.VelaLine = 0;
    s.Cart.TwoPairs = 0;
    WaitFlashReady(s);  // a chip that stays busy shows up in the query data below

    // Only the first chip of a pair receives the query command.
    WriteCartWord(s, 0, kCmdQuery);
    ReadQueryRun(s, 0, 0);
    ReadQueryRun(s, kSecondPairAddress, kQueryWords);
    WriteCartWord(s, 0, kCmdReadArray);

    const auto& b = s.ChunkBuffer.bytes;
    if (QuerySignature(s, 0x20, 0x22, 0x24)) {
        if (const CartModel* m = FindCartChips(false, b[2], false)) {
            s.Cart.CapacityBytes = m->CapacityBytes;
            return showModel ? ShowCartModel(s) : 0;
        }
    }

    // Two chips word by word: the first chip's query words sit at even addresses.
    s.Cart.Interleaved = 1;
    if (QuerySignature(s, 0x40, 0x44, 0x48)) {
        // A second pair at 0x400000 answers with its own query data; without
        // one the reads there mirror the first pair. Only pairs of the
        // smallest chips are built so.
        bool twoPairs = false;
        for (int i = 0; i < kQueryWords; ++i) {
            if (s.ChunkBuffer.word(kQueryWords + i) != s.ChunkBuffer.word(i)) {
                twoPairs = true;
                break;
            }
        }
        twoPairs = twoPairs && FindCartChips(true, b[4], true) != nullptr;
        if (const CartModel* m = FindCartChips(true, b[4], twoPairs)) {
            s.Cart.CapacityBytes = m->CapacityBytes;
            s.Cart.TwoPairs = m->TwoPairs ? 1 : 0;
            return CheckVelaLine(s, showModel);
        }
    }

    if (showModel) HideCartPicture(s);
    return -1;
}

int CheckVelaLine(FlashState& s, bool showModel) {
    // Ask the cart's serial line for block 0: two 1 bits, the 6-bit block number, a closing 0.
    OpenSerialWindow(s, false);
    const int request = 0x180 | ((0 & 0x3F) << 1);
    for (int bit = 8; bit >= 0; --bit) SendSerialBit(s, request >> bit);

    OpenSerialWindow(s, true);
    WriteControl(s, kCtlRead);
    int lead = 0;
    for (int i = 0; i < 4; ++i) lead = (lead << 1) | ReadSerialBit(s);
    const auto serial = ReadSerialBytes(s);

    OpenSerialWindow(s, false);
    for (int i = 0; i < 9; ++i) SendSerialBit(s, 0);

    // The same 64 bits as seen through save memory at 0x200.
    SetRomAccess(s);
    SetSaveAccess(s);
    SetCartAddress(s, kSaveCompareAddress);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    const auto save = ReadSerialBytes(s);
    SetRomAccess(s);

    if (lead == 1 && serial == save) s.Cart.VelaLine = 1;
    return showModel ? ShowCartModel(s) : 0;
}

int ShowCartModel(FlashState& s) {
    const CartModel* m = FindCartModel(s.Cart);
    if (!m) {
        HideCartPicture(s);
        return -1;
    }
    LoadCartPicture(s, m->Picture);
    s.Result.CartModel = CartModelName(s.Cart);
    LogLine(s, s.Result.CartModel + " Found");
    return 0;
}

std::string CartModelName(const CartInfo& c) {
    const CartModel* m = FindCartModel(c);
    return m ? std::string("Rombolt ") + m->Name : std::string();
}

void HideCartPicture(FlashState& s) { s.UI->ShowCartPicture(0); }

void LoadCartPicture(FlashState& s, int number) {
    if (number < 1 || number > kCartPictureCount) {
        s.UI->Beep();
        return;
    }
    s.UI->ShowCartPicture(number);
}

int FindFlashCart(FlashState& s) {
    if (DetectAdapter(s) != 0) return -1;
    if (IdentifyFlash(s) == 0) return 0;
    LogLine(s, "Flash not found!!!");
    return -1;
}

}  // namespace rombolt

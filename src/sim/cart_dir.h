// The persistent simulated cart: a directory with three files.
//
//   DIR/cart.ini   text, one `key = value` per line; '#' or ';' start a comment
//                  line; blank lines are ignored; an unknown key, a repeated
//                  key or a bad value is an error naming the line.
//   DIR/flash.bin  flash (or mask ROM) bytes in cart byte order: byte offset =
//                  2 x word address, words little-endian. Flash models: exactly
//                  the capacity long (missing = a new, erased cart). `rom`: the
//                  ROM's bytes, 1 byte to 32 MiB (required).
//   DIR/save.bin   save memory bytes, bank b at b x 64 KiB, exactly the save
//                  size long (missing = all 0xFF). Not used with save = none.
//
// cart.ini keys:
//   model = NAME               required. single-32M, single-64M, single-128M,
//                              strata-64M, strata-128M, strata-128M-one-pair,
//                              strata-256M, vela-64M, vela-128M,
//                              vela-128M-one-pair, vela-256M, rom, none
//   save = SIZE                none, 8K, 32K, 64K, 128K, 256K (default none)
//   bases = B[, B...]          printer port bases that answer (default
//                              0x378, 0x278, 0x3BC); hex with 0x or decimal
//   spp_only = yes|no          EPP cycles do nothing, EPP reads give 0xFF (no)
//   epp_only = yes|no          SPP cycles do not reach the adapter: its strobes
//                              are not seen, the nibble lines read ones (no)
//   adapter = present|absent   absent: nothing answers, "No Adaptor Found!"
//   busy_program = N           status reads a chip stays busy after a buffer
//                              (or word) program (default 1)
//   busy_erase = N             status reads a block erase takes (default 16)
//   fault_program_error_chunk = C   programs into 32 KiB chunk C end with the
//                              program error bit (status 0x90) and store nothing
//   fault_erase_stuck_chunk = C     the erase of the block holding chunk C never
//                              finishes (the chip stays busy until closed)
//   fault_locked_chunk = C     the block holding chunk C is locked: its erase ends
//                              with status 0xA2 and erases nothing, its programs
//                              end with 0x92 and store nothing
//   fault_flip_every = N       every Nth flash/ROM array word read or save byte
//                              read comes back with one bit flipped (0 = off)
//   fault_vanish_after = N     the adapter stops answering after N port
//                              accesses of this session (0 = off)
//   noise_seed = N             seed of the status-line noise (any nonzero value)
// Chunk numbers count 32 KiB from the start of the flash; -1 switches a fault off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_port.h"

namespace rombolt {

// Parses cart.ini text into `config` (keys not given keep their defaults,
// except that `model` must be present). False with a message naming the line.
bool ParseCartIni(const std::string& text, SimConfig& config, std::string& error);
bool LoadCartIni(const std::string& path, SimConfig& config, std::string& error);
// cart.ini text for a config: every key, with a short comment header.
std::string CartIniText(const SimConfig& config);

// Creates DIR (and missing parents) holding a new cart: cart.ini with the
// model and save size, flash.bin (flash: all 0xFF, or the start filled from
// romFile when given; rom: a copy of romFile, which is then required) and
// save.bin of 0xFF bytes. An empty save size is 64K for Vela models (whose
// line test needs save memory; "none" is refused for them) and none for the
// others. Refuses a directory that already holds a cart.ini.
bool CreateSimCart(const std::string& dir, const std::string& model, const std::string& save,
                   const std::string& romFile, std::string& error);

// Whole-file helpers. ReadWholeFile: found = false (and true returned) when
// the file does not exist; a file longer than maxBytes is refused before it
// is read. WriteFileAtomically: writes PATH.tmp, then renames it over PATH, so
// a crash leaves either the old or the new file; a failure removes PATH.tmp
// again.
inline constexpr std::uint64_t kMaxCartFileBytes = 32u << 20;  // the largest flash or ROM
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, bool& found, std::string& error,
                   std::uint64_t maxBytes = kMaxCartFileBytes);
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);
// Reads exactly `size` bytes of the file at `path` into `data`; false with a
// message when the file cannot be read or has another length.
bool ReadFileInto(const std::string& path, std::uint8_t* data, std::size_t size, std::string& error);

}  // namespace rombolt

#include "app/game_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/operation.h"
#include "core/visible_text.h"
#include "image/header.h"
#include "ops/chunk_file.h"
#include "ops/layout.h"

namespace rombolt {

namespace {

constexpr int kHeaderBytes = 512;
constexpr int kMaxRows = 100;
// The largest multiple of 32 KiB a row size can hold: what a size that cannot
// be read counts as, so that no cart model takes the list.
constexpr std::int64_t kOversizedRow = 0x7FFF8000;

bool AllBytesAre(const AppState& s, std::uint8_t v) {
    const auto& b = s.ChunkBuffer.bytes;
    return std::all_of(b.begin(), b.end(), [v](std::uint8_t x) { return x == v; });
}

// Opens path "rb" as the current file; a directory counts as not openable.
bool OpenQuietly(AppState& s, const std::string& path) {
    CloseCurrentFile(s);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    s.CurrentFile = std::fopen(path.c_str(), "rb");
    return s.CurrentFile != nullptr;
}

// A "Size" text as a byte count for the size pass: digits only; anything else
// (or a count beyond the row size range) counts as too large for every cart.
std::int64_t SizeForSummary(const std::string& text) {
    if (auto v = ParseRowSize(text)) return *v;
    return kOversizedRow;
}

// Bytes a row takes in the cart: its size rounded up to whole chunks, less
// the last chunk of a padded game when Cut 32K is on.
std::int64_t CartBytesOfRow(const AppState& s, const GameRow& row) {
    std::int64_t size = SizeForSummary(row.Size);
    if (size % kChunkBytes != 0) size = size - size % kChunkBytes + kChunkBytes;
    if (s.Config.Cut32K && (row.GType == "GBA#" || row.GType == "GBC#" || row.GType == "GB#"))
        size -= kChunkBytes;
    return size < 0 ? 0 : size;
}

int CompareText(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

const std::string& Column(const GameRow& r, int c) {
    switch (c) {
        case 1:
            return r.DirectoryPath;
        case 2:
            return r.Size;
        case 3:
            return r.GameName;
        case 4:
            return r.GType;
        default:
            return r.Name;
    }
}

// Splits text into lines ended by CR LF, LF or a lone CR; a last line without
// an ending counts too.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
        lines.push_back(text.substr(i, j - i));
        if (j < text.size() && text[j] == '\r') ++j;
        if (j < text.size() && text[j] == '\n') ++j;
        i = j;
    }
    return lines;
}

// Far more than a list of 100 games with long paths ever takes.
constexpr off_t kMaxListFileBytes = 16 << 20;

// A list file's text: 0; -1 when it cannot be read (a pipe or a directory
// is not waited on or read); kListFileTooLarge.
int ReadWholeFile(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    int r = 0;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r = -1;
    } else if (st.st_size > kMaxListFileBytes) {
        r = kListFileTooLarge;
    } else {
        out.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);  // a file that shrank meanwhile gives what it held
    }
    ::close(fd);
    return r;
}

// Reads a list file's rows: replace (Load List) or append (Add List).
void ListFileCommand(AppState& s, bool replace) {
    auto path = s.UI->ChooseFile(FileDialog::OpenFile);
    if (!path) return;
    ResetProgress(s);
    const int rows = ReadListFile(s, *path, replace);
    LogLine(s, "");
    if (rows < 0) {
        LogLine(s, rows == kListFileTooLarge ? "File Size Error!!!" : "File Open Error!!!");
        return;
    }
    LogLine(s, replace ? "Load List Ok" : "Add List Ok");
    UpdateListSize(s);
}

}  // namespace

int AddSelectedFiles(AppState& s, const std::string& directory, const std::vector<std::string>& names) {
    int added = 0;
    for (const std::string& name : names) {
        const std::string path = JoinPath(directory, name);
        // A list file holds one name a line: a name with a line break could
        // not be saved and loaded again.
        if (path.find_first_of("\r\n") != std::string::npos) {
            LogLine(s, "File Name Error!!!(" + path + ")");
            continue;
        }
        s.CurrentFilePath = path;
        if (!OpenQuietly(s, path)) break;
        const long long length = CurrentFileLength(s);
        if (length < kHeaderBytes) {
            CloseCurrentFile(s);
            if (length < 0) break;  // a file whose length cannot be taken cannot be read either
            continue;
        }
        if (!ReadChunk(s, kHeaderBytes)) {
            CloseCurrentFile(s);
            break;
        }
        CloseCurrentFile(s);
        const std::uint8_t colourFlag = s.ChunkBuffer.bytes[0x143];

        s.GameList.push_back(GameRow{name, directory, std::to_string(length), "", ""});
        ++added;
        const int h = CheckCartHeader(s, HeaderCheck::Quiet);
        const std::string gameName = s.GameNameText;

        // A file that ends in 32 KiB of nothing but 0x00 or 0xFF carries padding.
        std::string mark;
        if (length > kChunkBytes && length % kChunkBytes == 0) {
            if (!OpenQuietly(s, path)) break;
            if (fseeko(s.CurrentFile, static_cast<off_t>(length - kChunkBytes), SEEK_SET) == 0 &&
                ReadChunk(s, kChunkBytes) && (AllBytesAre(s, 0x00) || AllBytesAre(s, 0xFF))) {
                mark = "#";
            }
            CloseCurrentFile(s);
        }

        GameRow& row = s.GameList.back();
        if (h == 0 || h == 2) {
            // A title byte such as 0x8A is a line feed once bit 7 is cleared.
            row.GameName = VisibleText(gameName);
            if (h == 0)
                row.GType = "GBA" + mark;
            else
                row.GType = (colourFlag == 0x80 ? "GBC" : "GB") + mark;
        }
    }
    UpdateListSize(s);
    return added;
}

void DeleteRows(AppState& s, std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int r : rows)
        if (r >= 0 && r < static_cast<int>(s.GameList.size())) s.GameList.erase(s.GameList.begin() + r);
    UpdateListSize(s);
}

void ClearList(AppState& s) {
    s.GameList.clear();
    UpdateListSize(s);
}

bool ClearAllClick(AppState& s) {
    if (!s.UI->AskYesNo("Do You want to Delete All Files?", "")) return false;
    ClearList(s);
    return true;
}

void SortByColumn(AppState& s, int column) {
    s.SortColumn = column;
    if (column == s.LastSortColumn) {
        s.SortDescending = s.SortDescending ? 0 : 1;
    } else {
        s.LastSortColumn = static_cast<std::uint8_t>(column);
        s.SortDescending = 0;
    }
    std::stable_sort(s.GameList.begin(), s.GameList.end(),
                     [&s](const GameRow& a, const GameRow& b) { return CompareRows(s, a, b) < 0; });
    UpdateListSize(s);
}

int CompareRows(const AppState& s, const GameRow& a, const GameRow& b) {
    int r;
    if (s.SortColumn == 2) {
        const std::int64_t d = SizeForSummary(a.Size) - SizeForSummary(b.Size);
        r = d < 0 ? -1 : (d > 0 ? 1 : 0);
    } else if (s.SortColumn >= 0 && s.SortColumn <= 4) {
        r = CompareText(Column(a, s.SortColumn), Column(b, s.SortColumn));
    } else {
        r = 0;
    }
    return s.SortDescending ? -r : r;
}

void UpdateListSize(AppState& s) {
    s.GbaRowCount = 0;
    s.GbRowCount = 0;
    s.ListTotalSize = 0;
    s.FitNote.clear();
    const int n = static_cast<int>(s.GameList.size());
    s.ListRowCount = n;
    if (n > 0) {
        const int counted = std::min(n, kMaxRows);
        std::uint64_t total = 0;
        for (int i = 0; i < counted; ++i) {
            const GameRow& row = s.GameList[static_cast<std::size_t>(i)];
            const std::int64_t size = CartBytesOfRow(s, row);
            if (IsGbaClass(row.GType)) s.GbaRows[s.GbaRowCount++] = static_cast<std::uint8_t>(i);
            if (IsGbClass(row.GType)) s.GbRows[s.GbRowCount++] = static_cast<std::uint8_t>(i);
            s.RowSizes[i] = static_cast<std::int32_t>(std::min<std::int64_t>(size, kOversizedRow));
            total += static_cast<std::uint64_t>(s.RowSizes[i]);
        }
        if (s.GbRowCount > 0) total += kChunkBytes;
        if (counted - s.GbRowCount >= 2) total += kChunkBytes;
        // Saturate rather than wrap: a wrapped total could look small enough to fit.
        s.ListTotalSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));

        std::string fits;
        for (const CartModel& m : CartModels()) {
            if (*m.LayoutName == '\0' || LayoutCart(s, m.Layout) != 0) continue;
            if (!fits.empty()) fits += "/";
            fits += m.LayoutName;
        }
        if (!fits.empty()) s.FitNote = "Only for:" + fits;
    }
    SetPanelText(s, Panel::ListSize, ListSizePanelText(s));
    ProcessMessages(s);
}

std::string ListSizePanelText(const AppState& s) {
    const std::string count = "[" + std::to_string(s.ListRowCount) + "]";
    if (s.ListRowCount > 99) return count + " over 99 files!!!]";
    char size[64];
    std::snprintf(size, sizeof size, "%-2.2fMb", static_cast<double>(s.ListTotalSize) / 131072.0);
    return count + "Total Size = " + size;
}

bool WriteListFile(const AppState& s, const std::string& path) {
    std::string text;
    for (const GameRow& r : s.GameList) {
        for (const std::string* f : {&r.Name, &r.DirectoryPath, &r.Size, &r.GameName, &r.GType})
            text += *f + "\r\n";
        text += "\r\n";
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const std::size_t put = std::fwrite(text.data(), 1, text.size(), f);
    const bool closed = std::fclose(f) == 0;
    return put == text.size() && closed;
}

int ReadListFile(AppState& s, const std::string& path, bool replace, int* refused) {
    if (refused) *refused = 0;
    std::string text;
    if (const int r = ReadWholeFile(path, text); r != 0) return r;
    const std::vector<std::string> lines = SplitLines(text);
    if (replace) s.GameList.clear();
    const std::size_t groups = lines.size() / 6;
    int added = 0;
    for (std::size_t j = 0; j < groups; ++j) {
        const std::string* l = &lines[6 * j];
        GameRow row{l[0], l[1], l[2], l[3], l[4]};
        // The size decides where the game goes and how much is written: a
        // row whose size cannot be read, or that would take no chunk, is not
        // taken; nor is one of a type the cart layouts do not place.
        if (!ParseRowSize(row.Size) || CartBytesOfRow(s, row) == 0) {
            LogLine(s, "List Size Error!!!(" + row.Name + ": \"" + row.Size + "\")");
            if (refused) ++*refused;
            continue;
        }
        if (!IsGbaClass(row.GType) && !IsGbClass(row.GType)) {
            LogLine(s, "List Type Error!!!(" + row.Name + ": \"" + row.GType + "\")");
            if (refused) ++*refused;
            continue;
        }
        // A file name ends at a NUL byte: the row would open another file
        // than the one it shows.
        if (row.Name.find('\0') != std::string::npos || row.DirectoryPath.find('\0') != std::string::npos) {
            LogLine(s, "List Name Error!!!(" + row.Name + ": a NUL byte in the name)");
            continue;
        }
        s.GameList.push_back(std::move(row));
        ++added;
    }
    return added;
}

void SaveFromListClick(AppState& s) {
    auto path = s.UI->ChooseFile(FileDialog::SaveFile);
    if (!path) return;
    s.SaveDialogFile = *path;
    ResetProgress(s);
    const bool ok = WriteListFile(s, *path);
    LogLine(s, "");
    LogLine(s, ok ? "Save List Ok" : "File Open Error!!!");
}

void LoadToListClick(AppState& s) { ListFileCommand(s, true); }
void AddToListClick(AppState& s) { ListFileCommand(s, false); }

}  // namespace rombolt

// The "skip unchanged blocks" write mode against a normal write: an
// identical image, one changed byte, and an image that differs everywhere.
#include <cstring>

#include "bench_sections.h"
#include "ops/commands.h"
#include "sim_session.h"

namespace rombolt::bench {

void RunSkipSection(std::FILE* out, const BenchOptions& opt, Budgets& b) {
    (void)b;
    const std::size_t bytes = (opt.quick ? 1u : 4u) << 20;
    const auto original = MakeImage(bytes, 21);
    auto oneByte = original;
    oneByte[bytes / 2 + 12345] ^= 0x5A;
    const auto other = MakeImage(bytes, 22);
    const std::string pathOriginal = opt.workDir + "/skip_a.gba";
    const std::string pathOneByte = opt.workDir + "/skip_b.gba";
    const std::string pathOther = opt.workDir + "/skip_c.gba";
    WriteFile(pathOriginal, original);
    WriteFile(pathOneByte, oneByte);
    WriteFile(pathOther, other);

    std::fprintf(out, "## Skip unchanged blocks\n\n");
    std::fprintf(out,
                 "\"Write Flash\" with \"Verify\" on, EPP port at speed \"4\", of a %zu KiB image "
                 "over a cart that already holds the original image: a normal write for reference, "
                 "then the same write with unchanged blocks skipped for an identical image, for one "
                 "changed byte, and for an image that differs everywhere; last, the original image with "
                 "unchanged blocks skipped onto a new, blank cart. Each flash block is compared chunk "
                 "by chunk before it would be erased; a block whose chunks all match is neither erased "
                 "nor programmed, and a chunk over blank flash is programmed without an erase. \"flash "
                 "correct\" means the cart then holds exactly the new image. Erases and buffer programs "
                 "are counted per chip: on the interleaved pair one 256 KiB block is an erase in each "
                 "chip, and a buffer program of 32 words counts once for each chip.\n\n",
                 bytes / 1024);
    Table t({"Cart", "Image", "Mode", "chip block erases", "chip buffer programs", "port accesses",
             "estimate at 1 µs", "host wall time", "result"});
    struct Step {
        const char* label;
        const std::string* path;
        const std::vector<std::uint8_t>* bytes;
        bool skip;
    };
    const Step steps[] = {{"identical", &pathOriginal, &original, false},
                          {"identical", &pathOriginal, &original, true},
                          {"one byte changed", &pathOneByte, &oneByte, true},
                          {"everything changed", &pathOther, &other, true}};
    for (const char* model : {"single-128M", "strata-256M"}) {
        SimSession ss(model, {false, 0});
        ss.s.Config.VerifyAfterWrite = 1;
        ListImage(ss.s, pathOriginal);
        if (!WriteClick(ss.s).Ok()) std::fprintf(stderr, "bench: first write failed\n");
        SimSession blank(model, {false, 0});
        blank.s.Config.VerifyAfterWrite = 1;
        auto row = [&](SimSession& on, const Step& step) {
            ListImage(on.s, *step.path);
            on.s.SkipUnchanged = step.skip;
            const RunStats r = Measure(on, [&] { return WriteClick(on.s); });
            on.s.SkipUnchanged = false;
            const bool same =
                std::memcmp(on.sim->Flash().data(), step.bytes->data(), step.bytes->size()) == 0;
            t.Row({model, step.label, step.skip ? "skip unchanged" : "normal", Thousands(r.erases),
                   Thousands(r.bufferPrograms), Thousands(r.accesses),
                   Fixed(static_cast<double>(r.accesses) * 1e-6, 2) + " s", Fixed(r.wall * 1000, 0) + " ms",
                   std::string(r.ok ? "Write To Cart Ok" : "failed") +
                       (same ? ", flash correct" : ", flash WRONG")});
        };
        for (const Step& step : steps) row(ss, step);
        row(blank, {"blank cart", &pathOriginal, &original, true});
    }
    t.Print(out);
    std::fprintf(out,
                 "On a real cart the erases and buffer programs also cost the chips' own erase and "
                 "program time, which a skipped block saves as well; \"What a command costs on a real "
                 "cart\" gives the times.\n\n");
}

}  // namespace rombolt::bench

// Reading slot files of 1, 10 and 100 MB: decoding, the field reader, and both together with the
// loader. Throughput is reported in bytes of the file per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/AppWindows.h"
#include "platform/posix/IconvCodepage.h"
#include "slotfile/SlotFieldReader.h"
#include "slotfile/SlotFile.h"
#include "slotfile/SlotFileDecoding.h"
#include "tests/support/DecodeSlotFile.h"

namespace {

using varnel::IconvCodepage;

enum class Encoding { Utf8, Cp932, Ascii };

// One section per slot, repeated until the file has the wanted size: Japanese and ASCII text,
// comma-separated and quoted fields, as a hand-written slot file would hold; or lines of a log.
std::string makeFile(Encoding encoding, std::size_t bytes) {
    const std::string_view line =
        encoding == Encoding::Ascii
            ? "2026-12-07 14:03:11 INFO worker 7: request served in 12 ms, status 200\r\n"
        : encoding == Encoding::Utf8
            ? "お世話になっております。ソフト開発部の表です, see you \"at 10:00, room ①\"\r\n"
            : "\x82\xa8\x90\xa2\x98\x62\x82\xc9\x82\xc8\x82\xc1\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82\xb7\x81"
              "\x42\x83\x5c\x83\x74\x83\x67\x8a\x4a\x94\xad\x95\x94\x82\xcc\x95\x5c\x82\xc5\x82\xb7, see you "
              "\"at 10:00, room \x87\x40\"\r\n";
    std::string file;
    file.reserve(bytes + 256);
    for (int slot = 1; file.size() < bytes; slot = slot % 10 + 1) {
        file += slot < 10 ? "[text0" : "[text";
        file += std::to_string(slot);
        file += "]\r\n";
        for (int i = 0; i < 20; ++i) {
            file += line;
        }
        file += "[end]\r\nnote outside any section\r\n";
    }
    // Cut after a whole line, so that no character is split and the UTF-8 file stays well-formed.
    file.resize(file.rfind('\n', bytes - 1) + 1);
    return file;
}

const std::string& file(Encoding encoding, std::int64_t megabytes) {
    static std::map<std::pair<Encoding, std::int64_t>, std::string> files;
    auto& f = files[{encoding, megabytes}];
    if (f.empty()) {
        f = makeFile(encoding, static_cast<std::size_t>(megabytes) << 20);
    }
    return f;
}

class StoredSlots : public varnel::Slots {
  public:
    std::u16string text(std::int16_t index) const override { return texts[index - 1]; }
    bool setText(std::int16_t index, const std::u16string& t) override {
        texts[index - 1] = t;
        return true;
    }
    bool setSharedText(std::int16_t index, const varnel::SharedText& t) override {
        texts[index - 1] = t.str();
        return true;
    }
    bool setBackground(std::int16_t, varnel::SlotBackground) override { return true; }
    std::u16string texts[10];
};

void finish(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

void BM_Decode(benchmark::State& state, Encoding encoding) {
    const std::string& bytes = file(encoding, state.range(0));
    const IconvCodepage codepage;
    for (auto _ : state) {
        auto text = varnel::DecodeSlotFile(bytes, codepage);
        benchmark::DoNotOptimize(text.value().data());
    }
    finish(state, bytes.size());
}

void BM_ReadFields(benchmark::State& state, Encoding encoding) {
    const std::string& bytes = file(encoding, state.range(0));
    const IconvCodepage codepage;
    const std::u16string text = varnel::DecodeSlotFile(bytes, codepage).value();
    for (auto _ : state) {
        varnel::SlotFieldReader reader(text);
        std::size_t fields = 0;
        while (!reader.atEnd()) {
            benchmark::DoNotOptimize(reader.readField().data());
            ++fields;
        }
        benchmark::DoNotOptimize(fields);
    }
    finish(state, bytes.size());
}

void BM_DecodeAndLoad(benchmark::State& state, Encoding encoding) {
    const std::string& bytes = file(encoding, state.range(0));
    const IconvCodepage codepage;
    for (auto _ : state) {
        StoredSlots slots;
        benchmark::DoNotOptimize(varnel::LoadSlotBytes(bytes, codepage, slots).ok());
        benchmark::DoNotOptimize(slots.texts[0].data());
    }
    finish(state, bytes.size());
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(10)->Arg(100)->ArgName("MB")->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK_CAPTURE(BM_Decode, utf8, Encoding::Utf8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Decode, cp932, Encoding::Cp932)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ReadFields, utf8, Encoding::Utf8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ReadFields, cp932, Encoding::Cp932)->Apply(sizes);
BENCHMARK_CAPTURE(BM_DecodeAndLoad, utf8, Encoding::Utf8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_DecodeAndLoad, cp932, Encoding::Cp932)->Apply(sizes);
BENCHMARK_CAPTURE(BM_DecodeAndLoad, ascii, Encoding::Ascii)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();

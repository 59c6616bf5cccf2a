// Throughput of the text conversions on an 8 MB mixed Japanese corpus, side by side with ICU's
// transliterators and case mapping doing similar work, and with one pass of a 65,536-entry table as the
// floor. Figures are bytes of UTF-16 input per second.
#include <benchmark/benchmark.h>
#include <unicode/locid.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/ConvertText.h"

namespace varnel {
namespace {

constexpr std::size_t kCorpusBytes = 8u << 20;

// Deterministic text that looks like Japanese office text: hiragana-heavy sentences with kanji,
// katakana words with voiced letters, Latin words in both widths, half-width katakana, digits and
// punctuation, broken into lines.
const std::u16string& Corpus() {
    static const std::u16string corpus = [] {
        const std::vector<std::u16string> pieces = {
            u"これは",
            u"ひらがなの",
            u"ぶんしょうです",
            u"そして",
            u"ことばを",
            u"ならべました",
            u"会議",
            u"資料",
            u"日本語",
            u"変換",
            u"東京都",
            u"株式会社",
            u"パソコン",
            u"データベース",
            u"ガイドライン",
            u"プログラム",
            u"ヴァイオリン",
            u"ショッピング",
            u"ﾃﾞｰﾀ",
            u"ﾊﾟｿｺﾝ",
            u"ｶﾀｶﾅ",
            u"Varnel",
            u"clipboard",
            u"ＡＢＣ",
            u"ｘｙｚ",
            u"１２３",
            u"2024",
            u"、",
            u"。",
            u"「",
            u"」",
            u"・",
            u"ー",
            u"\u3000",
            u" ",
            u"Ελλάδα",
            u"Москва",
            u"（株）",
            u"ﾞ",
            u"\t",
        };
        std::mt19937 rng(20240401);
        std::u16string text;
        text.reserve(kCorpusBytes / 2 + 64);
        std::size_t line = 0;
        while (text.size() * 2 < kCorpusBytes) {
            const auto& piece = pieces[rng() % pieces.size()];
            text += piece;
            line += piece.size();
            if (line > 60) {
                text += u"\r\n";
                line = 0;
            }
        }
        text.resize(kCorpusBytes / 2);
        return text;
    }();
    return corpus;
}

void Report(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Corpus().size() * sizeof(char16_t)));
}

void BM_ConvertText(benchmark::State& state) {
    const auto kind = static_cast<ConversionKind>(state.range(0));
    const std::u16string& text = Corpus();
    ConvertText(u"warm-up", kind);  // builds the tables outside the timed loop
    for (auto _ : state) {
        std::u16string out = ConvertText(text, kind);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state);
}
BENCHMARK(BM_ConvertText)
    ->ArgName("kind")
    ->Arg(static_cast<int>(ConversionKind::NarrowConversion))
    ->Arg(static_cast<int>(ConversionKind::WideConversion))
    ->Arg(static_cast<int>(ConversionKind::HiraganaConversion))
    ->Arg(static_cast<int>(ConversionKind::KatakanaConversion))
    ->Arg(static_cast<int>(ConversionKind::UpperCaseConversion))
    ->Arg(static_cast<int>(ConversionKind::LowerCaseConversion))
    ->Unit(benchmark::kMillisecond);

// The floor: one pass of a 65,536-entry uint16_t table into a fresh string of the same length.
void BM_TablePass(benchmark::State& state) {
    static const auto table = [] {
        auto t = std::make_unique<std::array<std::uint16_t, 0x10000>>();
        for (std::size_t c = 0; c < t->size(); ++c) {
            (*t)[c] = static_cast<std::uint16_t>(c ^ ((c >> 8) & 1));
        }
        return t;
    }();
    const std::u16string& text = Corpus();
    for (auto _ : state) {
        std::u16string out(text.size(), u'\0');
        char16_t* p = out.data();
        for (const char16_t c : text) {
            *p++ = static_cast<char16_t>((*table)[c]);
        }
        benchmark::DoNotOptimize(out.data());
    }
    Report(state);
}
BENCHMARK(BM_TablePass)->Unit(benchmark::kMillisecond);

void BM_TabToComma(benchmark::State& state) {
    const std::u16string& text = Corpus();
    for (auto _ : state) {
        std::u16string out = TabToComma(text);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state);
}
BENCHMARK(BM_TabToComma)->Unit(benchmark::kMillisecond);

icu::UnicodeString CorpusCopy() {
    const std::u16string& text = Corpus();
    return icu::UnicodeString(text.data(), static_cast<std::int32_t>(text.size()));
}

void BM_IcuTransliterator(benchmark::State& state, const char* id) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> transliterator(
        icu::Transliterator::createInstance(icu::UnicodeString::fromUTF8(id), UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !transliterator) {
        state.SkipWithError("transliterator not available");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        icu::UnicodeString text = CorpusCopy();
        state.ResumeTiming();
        transliterator->transliterate(text);
        benchmark::DoNotOptimize(text.getBuffer());
    }
    Report(state);
}
BENCHMARK_CAPTURE(BM_IcuTransliterator, FullwidthHalfwidth, "Fullwidth-Halfwidth")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_IcuTransliterator, HalfwidthFullwidth, "Halfwidth-Fullwidth")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_IcuTransliterator, HiraganaKatakana, "Hiragana-Katakana")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_IcuTransliterator, KatakanaHiragana, "Katakana-Hiragana")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_IcuCase(benchmark::State& state, bool upper) {
    for (auto _ : state) {
        state.PauseTiming();
        icu::UnicodeString text = CorpusCopy();
        state.ResumeTiming();
        if (upper) {
            text.toUpper(icu::Locale::getRoot());
        } else {
            text.toLower(icu::Locale::getRoot());
        }
        benchmark::DoNotOptimize(text.getBuffer());
    }
    Report(state);
}
BENCHMARK_CAPTURE(BM_IcuCase, toUpper, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IcuCase, toLower, false)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel

BENCHMARK_MAIN();

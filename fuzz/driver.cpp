// A small replay-and-mutate driver for the fuzz targets when libFuzzer is not in use. It feeds every
// file named on the command line, then a fixed number of pseudo-random inputs derived from them,
// to LLVMFuzzerTestOneInput. Deterministic: the same build finds the same inputs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::string> seeds;
    int iterations = 20000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("-runs=", 0) == 0) {
            iterations = std::atoi(arg.c_str() + 6);
            continue;
        }
        std::ifstream in(arg, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (seeds.empty()) {
        seeds.emplace_back();
    }
    for (const auto& s : seeds) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    }
    std::mt19937 rng(12345);
    for (int n = 0; n < iterations; ++n) {
        std::string input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t pos = input.empty() ? 0 : rng() % (input.size() + 1);
            switch (rng() % 4) {
                case 0:
                    input.insert(pos, 1, static_cast<char>(rng()));
                    break;
                case 1:
                    if (pos < input.size()) {
                        input.erase(pos, 1 + rng() % 4);
                    }
                    break;
                case 2:
                    if (pos < input.size()) {
                        input[pos] = static_cast<char>(rng());
                    }
                    break;
                default: {
                    static const char* tokens[] = {
                        ",", "\"", "\r\n",     "\n",           "\r",           "[text01]", "[end]",
                        " ", "\t", "\x82\xa0", "\xef\xbb\xbf", "\xe3\x81\x82", "\x83"};
                    input.insert(pos, tokens[rng() % (sizeof tokens / sizeof *tokens)]);
                }
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::printf("%zu seeds, %d generated inputs: no fault\n", seeds.size(), iterations);
    return 0;
}

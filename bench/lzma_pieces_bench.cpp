// What compressing 10 KiB pieces costs through LZMACompProcessor, next to liblzma alone
// encoding the same pieces with the same settings (a fresh one-shot raw encoder per piece).
#include <benchmark/benchmark.h>
#include <lzma.h>

#include <random>
#include <vector>

#include "archive/Processors.h"

namespace {

constexpr size_t kPiece = 10240;

// Text-like data with some incompressible stretches, like a mail folder.
const std::vector<uint8_t>& Corpus() {
    static std::vector<uint8_t> data = [] {
        std::mt19937 rng(7);
        const char* words[] = {"mail ",    "backup ",   "archive ",
                               "restore ", "Subject: ", "Re: ",
                               "meeting ", "budget\n",  "From: ann@example.org\n"};
        std::vector<uint8_t> out;
        while (out.size() < 8 * 1024 * 1024) {
            if (rng() % 16 == 0) {
                for (int i = 0; i < 2000; ++i) out.push_back(static_cast<uint8_t>(rng()));
            } else {
                const char* w = words[rng() % 9];
                out.insert(out.end(), w, w + std::char_traits<char>::length(w));
            }
        }
        return out;
    }();
    return data;
}

void ProcessorPieces(benchmark::State& state) {
    const auto& data = Corpus();
    for (auto _ : state) {
        for (size_t at = 0; at + kPiece <= data.size(); at += kPiece) {
            LZMACompProcessor p;
            benchmark::DoNotOptimize(p.Process(data.data() + at, kPiece));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void LiblzmaAlonePieces(benchmark::State& state) {
    const auto& data = Corpus();
    std::vector<uint8_t> out(2 * kPiece);
    lzma_options_lzma opt{};
    lzma_lzma_preset(&opt, 6);
    opt.dict_size = 16384;
    opt.nice_len = 64;
    opt.mf = LZMA_MF_BT4;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    for (auto _ : state) {
        for (size_t at = 0; at + kPiece <= data.size(); at += kPiece) {
            size_t pos = 0;
            lzma_set_ext_size(opt, kPiece);
            benchmark::DoNotOptimize(lzma_raw_buffer_encode(filters, nullptr, data.data() + at,
                                                            kPiece, out.data(), &pos, out.size()));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

}  // namespace

BENCHMARK(ProcessorPieces)->Unit(benchmark::kMillisecond);
BENCHMARK(LiblzmaAlonePieces)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

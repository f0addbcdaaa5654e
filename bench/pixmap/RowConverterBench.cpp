// Row converters on one row of a full frame (2304 pixels).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "KReaderRowConversion.h"

namespace {
constexpr int kWidth = 2304;

void RunConverter(benchmark::State& state, KRowConverter converter, int sourceBytes, int destinationBytes)
{
    std::vector<uint8_t> source(static_cast<size_t>(kWidth) * sourceBytes);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    std::vector<uint8_t> destination(static_cast<size_t>(kWidth) * destinationBytes);
    for (auto _ : state) {
        converter(kWidth, source.data(), destination.data());
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth);
    state.SetBytesProcessed(state.iterations() * kWidth * (sourceBytes + destinationBytes));
}
}  // namespace

BENCHMARK_CAPTURE(RunConverter, 48RGBTo24BGR, ConvertRow48RGBTo24BGR, 6, 3);
BENCHMARK_CAPTURE(RunConverter, 48RGBTo24RGB, ConvertRow48RGBTo24RGB, 6, 3);
BENCHMARK_CAPTURE(RunConverter, 48RGBTo30RGBL, ConvertRow48RGBTo30RGBL, 6, 4);
BENCHMARK_CAPTURE(RunConverter, 48RGBTo30RGB, ConvertRow48RGBTo30RGB, 6, 4);
BENCHMARK_CAPTURE(RunConverter, 48RGBTo32BGRA, ConvertRow48RGBTo32BGRA, 6, 4);
BENCHMARK_CAPTURE(RunConverter, 48RGBTo48BGR, ConvertRow48RGBTo48BGR, 6, 6);
BENCHMARK_CAPTURE(RunConverter, 30RGBLTo24BGR, ConvertRow30RGBLTo24BGR, 4, 3);
BENCHMARK_CAPTURE(RunConverter, 30RGBLTo24RGB, ConvertRow30RGBLTo24RGB, 4, 3);
BENCHMARK_CAPTURE(RunConverter, 30RGBLTo30RGB, ConvertRow30RGBLTo30RGB, 4, 4);
BENCHMARK_CAPTURE(RunConverter, 30RGBLTo32BGRA, ConvertRow30RGBLTo32BGRA, 4, 4);
BENCHMARK_CAPTURE(RunConverter, 30RGBLTo48RGB, ConvertRow30RGBLTo48RGB, 4, 6);
BENCHMARK_CAPTURE(RunConverter, 24RGBTo48RGB, ConvertRow24RGBTo48RGB, 3, 6);
BENCHMARK_CAPTURE(RunConverter, 24RGBTo48BGR, ConvertRow24RGBTo48BGR, 3, 6);
BENCHMARK_CAPTURE(RunConverter, 16MonoTo8Mono, ConvertRow16MonoTo8Mono, 2, 1);
BENCHMARK_CAPTURE(RunConverter, Reader24RGBTo32BGRA, FindReaderRowConverter(7, 13), 3, 4);
BENCHMARK_CAPTURE(RunConverter, Reader24RGBTo30RGBL, FindReaderRowConverter(7, 8), 3, 4);
BENCHMARK_CAPTURE(RunConverter, Reader24RGBTo24BGR, FindReaderRowConverter(7, 6), 3, 3);

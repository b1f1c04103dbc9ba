// The per-tick encoding work: the frame built from the model and the battery reply parsed back.
#include <benchmark/benchmark.h>

#include <cstring>

#include "link/frame.h"

namespace {

void BM_BuildFrame(benchmark::State& state) {
    zanth::ControllerModel model;
    model.ledItem().latched = 1;
    model.item(zanth::kItemL1).keyDown = 1;
    model.item(zanth::kItemPadLeft).mouseDown = 1;
    model.item(zanth::kItemF1).padDown = 1;
    for (auto _ : state) {
        model.rightStickX = (model.rightStickX + 1) & 0xFF;  // keep the compiler from folding the work away
        benchmark::DoNotOptimize(zanth::BuildFrame(model));
    }
}
BENCHMARK(BM_BuildFrame);

void BM_ParseBatteryReply(benchmark::State& state) {
    const char reply[] = "BB 70 ";
    std::uint8_t bytes[sizeof reply];
    std::memcpy(bytes, reply, sizeof reply);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(zanth::ParseBatteryReply(bytes, sizeof reply - 1));
    }
}
BENCHMARK(BM_ParseBatteryReply);

}  // namespace

#include "panel/stats.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zanth {
namespace {
double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}
}  // namespace

RunStats& RunStats::Get() {
    static RunStats stats;
    return stats;
}

RunStats::RunStats() {
    if (const char* p = std::getenv("ZANTH_STATS")) path_ = p;
    processStart_ = Clock::now();
}

void RunStats::MarkProcessStart() {
    processStart_ = Clock::now();
}

void RunStats::TickStart() {
    if (!enabled()) return;
    const auto now = Clock::now();
    if (lastTick_ != Clock::time_point{}) {
        tickGapMs_.push_back(std::chrono::duration<double, std::milli>(now - lastTick_).count());
        tickAtS_.push_back(std::chrono::duration<double>(now.time_since_epoch()).count());
    }
    lastTick_ = now;
    tickStart_ = now;
    tickCpuStartUs_ = ThreadCpuUs();
}

void RunStats::TickEnd() {
    if (!enabled()) return;
    tickUs_.push_back(std::chrono::duration<double, std::micro>(Clock::now() - tickStart_).count());
    tickCpuUs_.push_back(ThreadCpuUs() - tickCpuStartUs_);
}

void RunStats::Paint(Clock::time_point start, int width, int height) {
    if (!enabled()) return;
    const auto now = Clock::now();
    if (firstPaintMs_ < 0) {
        firstPaintMs_ = std::chrono::duration<double, std::milli>(now - processStart_).count();
        firstPaintClockS_ =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    if (width * height < 800 * 600) {
        itemPaintUs_.push_back(std::chrono::duration<double, std::micro>(now - start).count());
        paintRects_.push_back(std::to_string(width) + "x" + std::to_string(height));
    }
}

void RunStats::Write() const {
    if (!enabled()) return;
    FILE* f = std::fopen(path_.c_str(), "w");
    if (f == nullptr) return;
    auto list = [f](const char* name, const std::vector<double>& v) {
        std::fprintf(f, "\"%s\": [", name);
        for (std::size_t i = 0; i < v.size(); ++i) std::fprintf(f, "%s%.3f", i ? ", " : "", v[i]);
        std::fprintf(f, "],\n");
    };
    std::fprintf(f, "{\n\"first_paint_ms\": %.3f,\n\"first_paint_clock_s\": %.6f,\n", firstPaintMs_,
                 firstPaintClockS_);
    list("tick_us", tickUs_);
    list("tick_cpu_us", tickCpuUs_);
    list("tick_gap_ms", tickGapMs_);
    list("tick_at_s", tickAtS_);
    list("item_paint_us", itemPaintUs_);
    std::fprintf(f, "\"item_paint_rects\": [");
    for (std::size_t i = 0; i < paintRects_.size(); ++i)
        std::fprintf(f, "%s\"%s\"", i ? ", " : "", paintRects_[i].c_str());
    std::fprintf(f, "]\n}\n");
    std::fclose(f);
}

}  // namespace zanth

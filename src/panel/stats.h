#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zanth {

// Figures the benchmarks read from the running program: how long ticks and paints take and how regularly
// the tick comes. Off unless the environment variable ZANTH_STATS names a file, which is written at exit.
class RunStats {
  public:
    using Clock = std::chrono::steady_clock;
    static RunStats& Get();
    bool enabled() const { return !path_.empty(); }

    void MarkProcessStart();  // first thing in main()
    void TickStart();
    void TickEnd();
    void Paint(Clock::time_point start, int width, int height);
    void Write() const;

  private:
    RunStats();
    std::string path_;
    Clock::time_point processStart_{};
    Clock::time_point tickStart_{};
    Clock::time_point lastTick_{};
    double firstPaintMs_ = -1;
    double firstPaintClockS_ = 0;  // wall clock, to compare with the launcher's
    double tickCpuStartUs_ = 0;
    std::vector<double> tickUs_, tickCpuUs_, tickGapMs_, itemPaintUs_;
    std::vector<double> tickAtS_;  // steady clock (CLOCK_MONOTONIC) seconds of each gap's end, to pick a span
    std::vector<std::string> paintRects_;
};

}  // namespace zanth

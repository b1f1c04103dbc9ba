// What writing a recording as it goes costs per message: the recorder as it is (a write to the system
// once a second of link time), against a write per message and a write and a sync per message, the ways
// a recording could be kept whole through a kill or a power cut.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "control/session_file.h"

namespace zanth {
namespace {

enum class Keep { kRecorder, kFlushEach, kSyncEach };

void Record(benchmark::State& state, Keep keep) {
    const QTemporaryDir dir;
    const std::string path = dir.filePath("bench.zsr").toStdString();
    SessionRecorder recorder;
    std::string reason;
    if (!recorder.Begin(path, {ProgramVersion(), "COM1", "/dev/null"}, &reason)) {
        state.SkipWithError(reason.c_str());
        return;
    }
    // A separate descriptor of the same file for the sync: fsync syncs the file, whoever opened it.
    std::FILE* sync = std::fopen(path.c_str(), "r");
    std::int64_t at = 0;
    for (auto _ : state) {
        // The wire's rhythm: a message every 125 ms of link time.
        recorder.Add(SentMessage{{'k', 0xFF, 0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0xF3}, at += 125000, -1});
        if (keep != Keep::kRecorder) recorder.Flush();
        if (keep == Keep::kSyncEach) fsync(fileno(sync));
    }
    std::fclose(sync);
    recorder.Finish(&reason);
}

BENCHMARK_CAPTURE(Record, once_a_second, Keep::kRecorder);
BENCHMARK_CAPTURE(Record, write_each_message, Keep::kFlushEach);
BENCHMARK_CAPTURE(Record, write_and_sync_each_message, Keep::kSyncEach);

}  // namespace
}  // namespace zanth

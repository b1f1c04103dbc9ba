#include <gtest/gtest.h>

#include <QCoreApplication>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory is overwritten, so that a walk over a list whose nodes were freed under it crashes here
// rather than reading stale pointers that still happen to lead on (the tree walk lives in the uninstrumented
// libstdc++).
extern "C" const char* __asan_default_options() {
    return "max_free_fill_size=65536";
}
#endif

// The server answers on its own thread and the test clients through queued signals: an event loop, no
// display.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

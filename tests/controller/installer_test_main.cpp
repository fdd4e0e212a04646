// The installer runs for real, without a display.

#include <gtest/gtest.h>
#include <QApplication>

// Under ThreadSanitizer: Qt is not instrumented, and it hands work between
// threads through futexes the sanitizer cannot see. Tearing the thread pool
// down looks like a race on the pool's wait condition, and the event that
// wakes the main queue looks like a race between the poster's allocation and
// the main thread's delete; the memory Qt copies inside itself is ignored
// like the rest of Qt. The work itself crosses through a standard mutex (see
// the main queue), which the sanitizer does check.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:QMetaMethod::invoke\n"
           "called_from_lib:libQt6Core.so.6\n";
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

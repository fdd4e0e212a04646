// The installer runs for real, without a display.

#include <QApplication>
#include <gtest/gtest.h>

// Under ThreadSanitizer: Qt is not instrumented, and its thread pool ends its
// threads through futexes the sanitizer cannot see, so tearing the pool down
// looks like a race on the pool's wait condition. Nothing of ours is hidden.
extern "C" const char* __tsan_default_suppressions() { return "race:QWaitCondition::~QWaitCondition\n"; }

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

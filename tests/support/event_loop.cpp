#include "tests/support/event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "platform/linux/openssl_hashing.h"

namespace orbitreel::test_support {

bool eventually(const std::function<bool()>& condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::string sha256Hex(std::span<const unsigned char> content) {
    auto sha = makeOpenSslHashing()->makeSha256();
    sha->update(content);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (auto byte : sha->finalize()) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xF]);
    }
    return hex;
}

}  // namespace orbitreel::test_support

// Home and temporary folders from the environment, UUIDs and UTC time from Qt.

#include "platform/linux/linux_environment.h"

#include <pwd.h>
#include <unistd.h>

#include <QDateTime>
#include <QUuid>
#include <cstdlib>

namespace orbitreel {

namespace {

class LinuxEnvironment : public Environment {
public:
    Path homeDirectory() override {
        if (const char* home = std::getenv("HOME"); home && *home) return home;
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
        return "/";
    }

    Path temporaryDirectory() override {
        if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
        return "/tmp";
    }

    // Uppercase: hidden names are recognised by their UUID text.
    std::string newUuid() override {
        return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    }

    std::string nowIso8601() override { return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString(); }
};

}  // namespace

std::unique_ptr<Environment> makeLinuxEnvironment() { return std::make_unique<LinuxEnvironment>(); }

}  // namespace orbitreel

// The demo Orbitreel for Linux: what a user can see of a menu-bar
// application without a menu bar. It appends a line to its own log when it
// starts, keeps running until it is told to stop (SIGTERM or SIGINT), and
// notes that too.

#include <QFile>
#include <QXmlStreamReader>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

// CFBundleShortVersionString from the bundle's Contents/Info.plist, beside
// Contents/MacOS where the executable lies.
std::string bundleVersion() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "?";
    QFile plist(QString::fromStdString((executable.parent_path().parent_path() / "Info.plist").string()));
    if (!plist.open(QIODevice::ReadOnly)) return "?";
    QXmlStreamReader xml(&plist);
    bool versionNext = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == u"key") {
            versionNext = xml.readElementText() == u"CFBundleShortVersionString";
        } else if (xml.name() == u"string" && versionNext) {
            return xml.readElementText().toStdString();
        } else if (xml.name() != u"plist" && xml.name() != u"dict") {
            versionNext = false;
        }
    }
    return "?";
}

std::string utcNow() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool appendToLog(const std::filesystem::path& log, const std::string& line) {
    std::ofstream out(log, std::ios::app);
    out << utcNow() << ' ' << line << '\n';
    return static_cast<bool>(out.flush());
}

}  // namespace

int main() {
    // Blocked before anything else, so a stop request is never lost.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        std::fprintf(stderr, "Orbitreel: HOME is not set\n");
        return 1;
    }
    const std::filesystem::path logs = std::filesystem::path(home) / "Library" / "Logs";
    std::error_code error;
    std::filesystem::create_directories(logs, error);
    const std::filesystem::path log = logs / "Orbitreel.log";
    const std::string who = "Orbitreel " + bundleVersion();
    const std::string pid = " pid " + std::to_string(getpid());
    if (!appendToLog(log, who + " started" + pid)) {
        std::fprintf(stderr, "Orbitreel: cannot write %s\n", log.c_str());
        return 1;
    }

    int signal = 0;
    sigwait(&stop, &signal);
    appendToLog(log, who + " stopped" + pid);
    return 0;
}

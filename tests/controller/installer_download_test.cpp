// The installer's download road, from the button to the cached image, over
// real HTTPS against the local release host.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/url.h"
#include "tests/platform/linux/download/release_host_sessions.h"
#include "tests/support/event_loop.h"
#include "tests/support/installer_world.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/text_files.h"
#include "ui/bar.h"

namespace orbitreel::test_support {
namespace {

namespace fs = std::filesystem;

// An installer launched as soon as it is made.
struct Launched : InstallerRun {
    explicit Launched(InstallerWorld& world) : InstallerRun(world) { launch(); }
};

constexpr const char* Refused = "No se pudo descargar. Probá de nuevo en unos minutos.";
constexpr const char* Cut = "Se cortó la descarga. Revisá tu conexión y tocá Reintentar.";

class InstallerDownloadTest : public ::testing::Test {
protected:
    release_host::Server& server() { return host.server(); }
    const std::string path = InstallerWorld::releasePath();
    TestReleaseHost host;
    ReleaseHostSessions sessions{host};
    InstallerWorld world{{.sessions = &sessions, .helpers = ORBITREEL_TEST_HELPERS_DIR}};
};

TEST_F(InstallerDownloadTest, ACutKeepsResumeDataAndReintentarAfterARestartFetchesOnlyTheRest) {
    Bytes content = patternBytes(2'500'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    server().fault(path, release_host::Fault::cut(1'000'000));
    {
        Launched first(world);
        ASSERT_TRUE(sessions.asked.has_value());
        EXPECT_EQ(sessions.asked->timeoutIntervalForRequest, 60);
        EXPECT_EQ(sessions.asked->timeoutIntervalForResource, 7200);
        ASSERT_TRUE(first.pressAndWait());

        EXPECT_EQ(first.status(), std::string(Cut) + "\nSe perdió la conexión con el servidor.");
        EXPECT_EQ(first.button(), "Reintentar");
        EXPECT_TRUE(first.buttonEnabled());
        EXPECT_TRUE(fs::is_regular_file(world.resumeData()));
        EXPECT_FALSE(fs::exists(world.image()));
        // The bar keeps how far the download came.
        EXPECT_GT(first.installer->progressBar()->doubleValue(), 0);
        EXPECT_LE(first.installer->progressBar()->doubleValue(), 40);
    }
    // Closed and opened again: a new installer with a new session.
    Launched second(world);
    ASSERT_TRUE(second.pressAndWait());

    auto last = server().requests().back();
    EXPECT_EQ(last.range, "bytes=1000000-");
    EXPECT_EQ(last.status, 206);
    EXPECT_EQ(last.bodyBytesSent, 1'500'000u);
    ASSERT_TRUE(fs::is_regular_file(world.image()));
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
    EXPECT_FALSE(fs::exists(world.resumeData()));
    EXPECT_EQ(second.details(), "100% · 2 de 2 MB");
}

TEST_F(InstallerDownloadTest, AFileThatChangedSinceTheCutIsDownloadedWholeAgain) {
    Bytes old = patternBytes(900'000, 1), content = patternBytes(1'200'000, 2);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(old, "\"old\""));
    server().fault(path, release_host::Fault::cut(300'000));
    Launched launched(world);
    ASSERT_TRUE(launched.pressAndWait());
    ASSERT_TRUE(fs::exists(world.resumeData()));

    server().serve(path, release_host::Entity::fromBytes(content, "\"new\""));
    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(server().requests().back().status, 200);
    ASSERT_TRUE(fs::is_regular_file(world.image()));
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
    EXPECT_FALSE(fs::exists(world.resumeData()));
}

TEST_F(InstallerDownloadTest, OnlyHttpsResponsesOfTheReleaseHostAreKept) {
    Bytes content = patternBytes(200'000);
    world.writeManifestFor(content);
    Launched launched(world);

    struct Case {
        std::string name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"404", [&] { server().respond(path, 404); }},
        {"500", [&] { server().respond(path, 500); }},
        {"204", [&] { server().respond(path, 204); }},
        {"304", [&] { server().respond(path, 304); }},
        {"redirect to http", [&] { server().redirect(path, "http://orbitreel.app/other.dmg"); }},
        {"redirect to another host", [&] { server().redirect(path, "https://mirror.example/other.dmg"); }},
        {"redirect to a sub-domain", [&] { server().redirect(path, "https://cdn.orbitreel.app/other.dmg"); }},
    };
    server().serve("/other.dmg", release_host::Entity::fromBytes(content, "\"r1\""));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        ASSERT_TRUE(launched.pressAndWait());
        EXPECT_EQ(launched.status(), Refused);
        EXPECT_FALSE(fs::exists(world.image()));
        EXPECT_EQ(launched.button(), "Reintentar");
    }
    for (const auto& record : server().requests()) EXPECT_NE(record.path, "/other.dmg");

    // Another path on the release host is fine.
    server().redirect(path, "/other.dmg", 301);
    ASSERT_TRUE(launched.pressAndWait());
    ASSERT_TRUE(fs::is_regular_file(world.image()));
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
}

TEST_F(InstallerDownloadTest, ARefusedRedirectOfAResumedDownloadKeepsItsResumeData) {
    Bytes content = patternBytes(800'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    server().fault(path, release_host::Fault::cut(500'000));
    Launched launched(world);
    ASSERT_TRUE(launched.pressAndWait());
    Bytes kept = readBytes(world.resumeData());
    ASSERT_FALSE(kept.empty());

    server().redirect(path, "https://mirror.example/elsewhere.dmg");
    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(launched.status(), Refused);
    EXPECT_TRUE(readBytes(world.resumeData()) == kept);

    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(server().requests().back().bodyBytesSent, 300'000u);
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
}

TEST_F(InstallerDownloadTest, ResumeDataTheSessionCannotUseIsRemovedAndTheNextTryStartsAfresh) {
    Bytes content = patternBytes(300'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    writeText(world.resumeData(), "{\"format\": 99}");
    Launched launched(world);

    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(launched.status(),
              std::string(Cut) + "\nLos datos para continuar la descarga no sirven; la próxima vez empieza de nuevo.");
    EXPECT_FALSE(fs::exists(world.resumeData()));
    EXPECT_TRUE(server().requests().empty());

    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(server().requests().back().range, "");
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
}

TEST_F(InstallerDownloadTest, AnImageInTheWayOfTheMoveIsLeftAloneAndItsErrorShown) {
    Bytes content = patternBytes(100'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    // The image appears while the transfer runs, just before the move.
    Path handedOver;
    world.files.fault = [&](FileOperation operation, const Path& from, const Path& to) -> std::optional<Error> {
        if (operation == FileOperation::move && to == world.image()) {
            handedOver = from;
            writeText(to, "in the way");
        }
        return std::nullopt;
    };
    Launched launched(world);
    ASSERT_TRUE(launched.pressAndWait());

    // The same refusal the file service gives for that move.
    ASSERT_FALSE(handedOver.empty());
    writeText(handedOver, "again");
    auto expected = world.services.realFiles().move(handedOver, world.image());
    ASSERT_FALSE(expected.has_value());
    EXPECT_EQ(launched.status(), expected.error().localizedDescription());
    EXPECT_EQ(readText(world.image()), "in the way");
}

TEST_F(InstallerDownloadTest, NoProgressForTheRequestTimeOutCutsTheDownloadWithItsResumeData) {
    Bytes content = patternBytes(600'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    server().fault(path, release_host::Fault::stall(250'000));
    sessions.requestTimeoutOverride = 0.5;
    Launched launched(world);

    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(launched.status(), std::string(Cut) + "\nSe agotó el tiempo de espera de la conexión.");
    ASSERT_TRUE(fs::is_regular_file(world.resumeData()));

    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(server().requests().back().bodyBytesSent, 350'000u);
    EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
}

// Sequences of outcomes, each press checked by the request it sends: the
// whole file, or the rest after the bytes that resume data names.
TEST_F(InstallerDownloadTest, EachRetryAsksForWhatTheLastOutcomeLeft) {
    const Bytes content = patternBytes(800'000);
    const std::string Verification = "La descarga no pasó la verificación. Tocá Reintentar.";
    // The content is no disk image, so a download that passes verification
    // ends at the install.
    const std::string Install = "No se pudo instalar.";
    auto serve = [&](const Bytes& bytes, const char* etag) {
        server().serve(path, release_host::Entity::fromBytes(bytes, etag));
    };
    auto good = [&] { serve(content, "\"r1\""); };
    auto cutAt = [&](std::uint64_t bytes, const char* etag = "\"r1\"") {
        return [&, bytes, etag] {
            serve(content, etag);
            server().fault(path, release_host::Fault::cut(bytes));
        };
    };
    // A range answered with the whole file: wrong bytes, and more of them
    // than the response declared.
    auto wholeFileAsRange = [&] {
        release_host::Fault fault;
        fault.wholeFileAsRange = true;
        server().fault(path, fault);
    };
    auto status = [&](int code) { return [&, code] { server().respond(path, code); }; };

    struct Step {
        std::function<void()> arrange;
        std::string range;  // of the request this press sends
        std::string outcome;
        bool resumeDataAfter;
    };
    struct Sequence {
        std::string name;
        std::vector<Step> steps;
    };
    const std::string rest = "bytes=400000-";
    const std::vector<Sequence> sequences = {
        {"a resumed image fails verification",
         {{cutAt(400'000), "", Cut, true}, {wholeFileAsRange, rest, Verification, false}, {good, "", Install, false}}},
        {"refused resumes keep their resume data",
         {{cutAt(400'000), "", Cut, true},
          {status(404), rest, Refused, true},
          {status(500), rest, Refused, true},
          {status(416), rest, Refused, true},
          {good, rest, Install, false}}},
        {"a resume restarted by a 200 and cut again",
         {{cutAt(400'000), "", Cut, true},
          {cutAt(600'000, "\"r2\""), rest, Cut, true},
          {cutAt(100'000, "\"r2\""), "bytes=600000-", Cut, true},
          {[&] { serve(content, "\"r2\""); }, "bytes=700000-", Install, false}}},
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        fs::remove_all(world.home / "Library");
        fs::remove_all(host.partialsFolder());
        world.writeManifestFor(content);
        Launched launched(world);
        for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
            SCOPED_TRACE("press " + std::to_string(i + 1));
            const Step& step = sequence.steps[i];
            step.arrange();
            const auto before = server().requests().size();
            ASSERT_TRUE(launched.pressAndWait());
            ASSERT_EQ(server().requests().size(), before + 1) << launched.status();
            EXPECT_EQ(server().requests().back().range, step.range);
            EXPECT_THAT(launched.status(), ::testing::StartsWith(step.outcome));
            EXPECT_EQ(fs::exists(world.resumeData()), step.resumeDataAfter);
        }
    }
}

TEST_F(InstallerDownloadTest, ResumeDataForAnyOtherAddressIsDroppedAndTheReleaseFetchedWhole) {
    const Bytes content = patternBytes(500'000);
    world.writeManifestFor(content);
    server().serve(path, release_host::Entity::fromBytes(content, "\"r1\""));
    const std::vector<std::string> addresses = {
        std::string("https://") + MirrorHost + path,
        "http://orbitreel.app" + path,
        "https://orbitreel.app/downloads/Orbitreel-Mac-1.4.1.dmg",
    };
    for (const auto& address : addresses) {
        SCOPED_TRACE(address);
        fs::remove_all(world.home / "Library");
        server().fault(path, release_host::Fault::cut(200'000));
        Launched launched(world);
        ASSERT_TRUE(launched.pressAndWait());
        Bytes kept = readBytes(world.resumeData());
        auto json = nlohmann::json::parse(kept.begin(), kept.end());
        json["url"] = address;
        writeText(world.resumeData(), json.dump());

        const auto before = server().requests().size();
        ASSERT_TRUE(launched.pressAndWait());
        ASSERT_EQ(server().requests().size(), before + 1);
        EXPECT_EQ(server().requests().back().range, "");
        EXPECT_FALSE(fs::exists(world.resumeData()));
        ASSERT_TRUE(fs::is_regular_file(world.image()));
        EXPECT_EQ(sha256Hex(readBytes(world.image())), sha256Hex(content));
    }
}

TEST_F(InstallerDownloadTest, ABodyPastTwiceTheReleaseIsCutWithoutResumeDataAndASmallerOverrunIsOnlyShown) {
    const Bytes content = patternBytes(300'000);
    world.writeManifestFor(content);
    Launched launched(world);

    server().serve(path, release_host::Entity::pattern(10'000'000, "\"big\""));
    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(launched.status(), std::string(Cut) + "\nEl servidor mandó mucho más de lo que pesa la descarga.");
    EXPECT_FALSE(fs::exists(world.resumeData()));
    EXPECT_FALSE(fs::exists(world.image()));
    EXPECT_THAT(filesIn(host.partialsFolder()), ::testing::IsEmpty());

    // Up to twice the size is written, shown over 100%, and left to verification.
    server().serve(path, release_host::Entity::pattern(600'000, "\"twice\""));
    ASSERT_TRUE(launched.pressAndWait());
    EXPECT_EQ(launched.status(), "La descarga no pasó la verificación. Tocá Reintentar.");
    EXPECT_EQ(launched.details(), "100% · 0 de 0 MB");
    EXPECT_EQ(sessions.asked->largestFile, std::optional<std::int64_t>(600'000));
}

TEST_F(InstallerDownloadTest, ProgressShowsPercentAndDecimalMegabytesOfTheManifestSize) {
    struct Case {
        std::int64_t bytes;
        std::int64_t written;
        std::string text;
    };
    const std::vector<Case> cases = {
        {34'999'999, 0, "0% · 0 de 34 MB"},
        {34'999'999, 34'999'999, "100% · 34 de 34 MB"},
        {34'999'999, 40'000'000, "100% · 40 de 34 MB"},
        {34'999'999, 12'345'678, "35% · 12 de 34 MB"},
        {500'000, 250'000, "50% · 0 de 0 MB"},
        {1'000'000, 999'999, "99% · 0 de 1 MB"},
    };
    ScriptedTask task;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        world.writeManifest(c.bytes, std::string(64, 'a'));
        Launched launched(world);
        Bar& bar = *launched.installer->progressBar();
        bar.setIndeterminate(true);
        // Reports come from the session's queue.
        onSessionQueue([&] { launched.installer->didWriteData(task, c.written, c.written, -1); });
        settle();
        EXPECT_EQ(launched.details(), c.text);
        EXPECT_FALSE(bar.isIndeterminate());
        double expected = std::min(100.0, c.written * 100.0 / static_cast<double>(c.bytes));
        EXPECT_DOUBLE_EQ(bar.doubleValue(), expected);
    }
}

#ifdef ORBITREEL_TEST_RELEASE_DIR
TEST_F(InstallerDownloadTest, DownloadsResumesAfterACutAndInstallsTheDemoImage) {
    const Path release = ORBITREEL_TEST_RELEASE_DIR;
    std::string manifest = readText(release / "release.json");
    writeText(world.bundle / "Contents/Resources/release.json", manifest);
    Path image;
    for (const auto& entry : fs::directory_iterator(release))
        if (entry.path().extension() == ".dmg") image = entry.path();
    ASSERT_FALSE(image.empty());
    Bytes bytes = readBytes(image);
    auto json = nlohmann::json::parse(manifest);
    auto url = parseUrl(json["url"].get<std::string>());
    ASSERT_TRUE(url.has_value());
    server().serve(url->path, release_host::Entity::fromBytes(bytes, "\"demo\""));
    server().fault(url->path, release_host::Fault::cut(bytes.size() / 2));

    Launched launched(world);
    ASSERT_TRUE(launched.pressAndWait());
    ASSERT_THAT(launched.status(), ::testing::StartsWith(Cut));
    ASSERT_TRUE(launched.pressAndWait());

    EXPECT_EQ(server().requests().back().status, 206);
    EXPECT_EQ(launched.status(), "Listo. Orbitreel queda en la barra de menú.");
    EXPECT_TRUE(launched.installer->isInstalled());
    EXPECT_TRUE(fs::is_directory(world.home / "Applications/Orbitreel.app"));
    EXPECT_THAT(world.workspace.opened, ::testing::ElementsAre(world.home / "Applications/Orbitreel.app"));
    EXPECT_TRUE(eventually([&] { return !fs::exists(world.image(json["version"].get<std::string>())); }));
}
#endif

}  // namespace
}  // namespace orbitreel::test_support

// What a person with a screen reader meets: the installer's tree on the
// accessibility bus, and the events the reader announces while the
// unmodified program downloads and installs, read by a client of our own.

#include <fstream>
#include <sstream>

#include "stage/release_site.h"
#include "tests/e2e/accessibility_bus.h"
#include "stage/waiting.h"
#include "tests/e2e/e2e_fixture.h"

namespace orbitreel::e2e {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
}

TEST_F(EndToEnd, AScreenReaderMeetsAFrameAndHearsEveryChange) {
    AccessibilityBus bus(work());
    if (!bus.missing().empty()) GTEST_SKIP() << bus.missing();
    stage::ProgramLaunch reader;
    reader.program = E2E_ATSPI_READER;
    reader.arguments = {"listen", "OrbitreelInstaller"};
    reader.environment = bus.environment();
    reader.output = work() / "events.txt";
    stage::ChildProcess listening(reader);
    ASSERT_TRUE(stage::waitUntil([&] { return stage::readWholeFile(reader.output).starts_with("listening"); }, 20s));

    stage::SceneOptions options;
    options.environment = {bus.variable()};
    scene(options);
    scene().serveRelease(stage::paced(scene().releaseImage(), 2s));
    openAndPress();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();

    stage::ProgramLaunch looking = reader;
    looking.arguments = {"tree", "OrbitreelInstaller"};
    looking.output = work() / "tree.txt";
    ASSERT_EQ(stage::ChildProcess(looking).waitFor(Patience), std::optional<int>(0))
        << stage::readWholeFile(looking.output);
    const std::string tree = stage::readWholeFile(looking.output);
    std::cout << "---- the tree\n" << tree;
    const auto nodes = lines(tree);
    ASSERT_GE(nodes.size(), 2u) << tree;
    EXPECT_EQ(nodes[1], "  frame 'Instalar Orbitreel'");
    EXPECT_EQ(tree.find("image"), std::string::npos) << "decoration is not read out";
    EXPECT_NE(tree.find("    label 'Orbitreel en tu Mac'\n"), std::string::npos) << tree;
    EXPECT_NE(tree.find("      label 'Listo. Orbitreel queda en la barra de menú.'\n"), std::string::npos) << tree;
    EXPECT_NE(tree.find("    progress bar 'Progreso de la instalación' value=100 [0,100]\n"), std::string::npos)
        << tree;
    EXPECT_NE(tree.find("    push button 'Listo'\n"), std::string::npos) << tree;

    // Heard without moving focus: the status as it changes, and the bar.
    stage::waitUntil([&] { return stage::readWholeFile(reader.output).find("'Listo.") != std::string::npos; }, 10s);
    listening.stop();
    const std::string events = stage::readWholeFile(reader.output);
    std::cout << "---- the events\n" << events;
    std::vector<std::string> statuses;
    std::vector<double> values;
    for (const auto& line : lines(events)) {
        const std::string nameChange = "object:property-change:accessible-name label '";
        if (line.starts_with(nameChange))
            statuses.push_back(line.substr(nameChange.size(), line.size() - nameChange.size() - 1));
        const std::string valueChange = "object:property-change:accessible-value progress bar value=";
        if (line.starts_with(valueChange)) values.push_back(std::stod(line.substr(valueChange.size())));
    }
    const std::vector<std::string> expected{"Descargando…", "Verificando e instalando…",
                                            "Listo. Orbitreel queda en la barra de menú."};
    auto next = statuses.begin();
    for (const auto& status : expected) {
        next = std::find(next, statuses.end(), status);
        EXPECT_NE(next, statuses.end()) << "not heard, or out of order: " << status << "\n" << events;
    }
    ASSERT_GE(values.size(), 2u) << events;
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << events;
    EXPECT_EQ(values.back(), 100.0) << events;
}

}  // namespace
}  // namespace orbitreel::e2e

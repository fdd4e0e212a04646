// Each test process enters a sandbox of its own before anything else runs
// (namespaces can only be made while the process has one thread), so tests
// run in parallel without sharing a port, a display or a /proc.

#include <gtest/gtest.h>

#include <cstring>

#include "tests/e2e/e2e_fixture.h"
#include "stage/sandbox.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
    if (!listing) {
        auto entry = orbitreel::stage::enterSandbox(orbitreel::stage::SandboxOptions{.privateTmp = true, .systemApplications = true});
        if (!entry.inside) orbitreel::e2e::setSandboxRefusal(entry.refusal);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

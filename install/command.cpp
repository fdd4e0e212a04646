#include "install/command.h"

#include "core/texts.h"
#include "platform/platform.h"

namespace orbitreel {

Result<void> command(const Platform& platform, const Path& tool, const std::vector<std::string>& arguments) {
    auto status = platform.processes->run(tool, arguments);
    if (!status) return fail_with(status.error());
    // The status itself is not shown: the user can act on neither it nor the tool's name.
    if (*status != 0) return fail_with(InstallError{texts::toolFailed()});
    return {};
}

}  // namespace orbitreel

#include "tests/support/identity_of_path.h"

#include <fcntl.h>

#include "platform/linux/item_identity.h"

namespace orbitreel::test_support {

ItemIdentity identityOfPath(const Path& path) {
    return identityAt(AT_FDCWD, path.string(), path).value_or(ItemIdentity{});
}

}  // namespace orbitreel::test_support

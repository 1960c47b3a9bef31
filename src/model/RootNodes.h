#pragma once
#include "model/Node.h"

namespace v {

// The roots of the backup source tree, in their fixed order; with messageStoreOnly, the
// message store alone. The caller owns the nodes.
NodeList CreateRootNodes(bool messageStoreOnly);

}  // namespace v

#pragma once
#include "model/Node.h"

namespace v {

// The roots of the backup source tree, in their fixed order; with messageStoreOnly, the
// message store alone. The caller owns the nodes.
NodeList CreateRootNodes(bool messageStoreOnly);

// Installs the message store root (the mail store registers it when linked in).
using RootFactory = BasicNode* (*)();
void SetMessageStoreRootFactory(RootFactory factory);

}  // namespace v

#include "model/Node.h"

namespace v {

BasicNode::BasicNode() : instanceGuid(tindale::Guid::NewRandom()) {}

BasicNode::BasicNode(const NodeRecord& rec, BasicStream* payload)
    : record(rec), payloadStream(payload) {}

}  // namespace v

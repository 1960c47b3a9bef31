#pragma once
// The dictionary a sealed archive's messages share (see ZstdDictionary): trained at the
// start of a backup from a sample of the very messages it is about to save.
#include <memory>
#include <set>
#include <stop_token>
#include <vector>

#include "model/Node.h"

class ZstdDictionary;

// A few messages from each mail folder among `sources` (in their order), as the archive will
// hold them, up to half a MiB; none when there is too little mail to learn from or the job
// was stopped. Reading the sample reports nothing: the backup reads them again and reports
// what it finds then.
std::shared_ptr<const ZstdDictionary> TrainMailDictionary(
    const std::vector<v::BasicNode*>& sources, const std::set<const v::BasicNode*>& skipped,
    std::stop_token stop);

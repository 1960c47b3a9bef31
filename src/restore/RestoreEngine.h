#pragma once
// Restores the records chosen in WizardState::restoreItems: each chosen record's payload is
// decoded frame by frame and handed to a node recreated by the factory registry.
#include <stop_token>

#include "model/Outcome.h"
#include "model/WizardState.h"
#include "model/Worker.h"

v::Outcome RestoreWorker(WizardState& state, v::WorkerReport& report, std::stop_token stop);

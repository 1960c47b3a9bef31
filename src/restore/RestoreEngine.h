#pragma once
// Restores the records chosen in WizardState::restoreItems: each chosen record's payload is
// decoded frame by frame and handed to a node recreated by the factory registry.
#include <functional>
#include <stop_token>

#include "model/Outcome.h"
#include "model/WizardState.h"
#include "model/Worker.h"

// Empties the destination identity's store before a restore; installed by the mail store.
using EmptyIdentityHook = std::function<bool(const std::u16string& identity)>;
void SetEmptyIdentityHook(EmptyIdentityHook hook);

v::Outcome RestoreWorker(WizardState& state, v::WorkerReport& report, std::stop_token stop);

#include "cli/Commands.h"

#include <iostream>

#include "demo/DemoProfile.h"

int RunDemoProfile() {
    DemoProfileCounts counts = CreateDemoProfile();
    std::cout << "sample profile written: " << counts.messages << " messages (" << counts.duplicates
              << " duplicated), " << counts.files << " files\n";
    return kExitOk;
}

#pragma once
// A sample profile for trying Tindale without touching real data: two mail identities with
// nested folders and a few hundred messages (some duplicated), Documents, Contacts,
// Favorites, both settings trees, and a Firefox profile and mutt's settings. Written into the current $HOME.
#include <string>

struct DemoProfileCounts {
    int messages = 0;
    int duplicates = 0;
    int files = 0;
};

DemoProfileCounts CreateDemoProfile();

#pragma once
// Programs' profiles laid out as the programs themselves lay them out (the file names and
// folders Thunderbird 153, Firefox ESR and Chromium write on first start and in use).
#include <string>

#include "support/TestHome.h"

// A Thunderbird profile "abcd.default" with a POP account on 127.0.0.1 and Local Folders,
// its caches, indexes, crash reports, secrets and address books beside its settings, and an
// mbox Inbox of `messages` messages.
void MakeThunderbirdProfile(const TestHome& home, int messages = 2);
// Firefox's places.sqlite: its built-in folders, a bookmark and a separator on the toolbar,
// and a page visited.
void MakeFirefoxPlaces(const std::string& path);
// A Firefox profile "xyz9.default-esr" and a Chromium "Default" profile.
void MakeBrowserProfiles(const TestHome& home);

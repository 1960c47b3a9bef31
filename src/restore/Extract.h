#pragma once
// Takes items out of an archive into a folder of the person's choosing, touching nothing
// else: files and folders as they were, messages as .eml files, or each mail folder as a
// Maildir or an mbox file. Items keep their path in the archive below the chosen folder
// ("My Documents/letters/a.txt"); a name that cannot be a file name there (empty, ".", "..",
// holding a "/") is refused, and a file already there is kept unless `overwrite`.
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/Seal.h"
#include "model/Outcome.h"
#include "model/Worker.h"

enum class MailForm { Eml, Maildir, Mbox };

struct ExtractRequest {
    std::u16string archivePath;
    std::u16string password;
    std::optional<SealKey> key;      // a sealed archive's key, derived already
    std::vector<std::string> items;  // paths as `list` prints them; empty: everything
    std::string target;              // the folder to extract into (made when missing)
    MailForm mail = MailForm::Eml;
    bool overwrite = false;
};

v::Outcome ExtractWorker(const ExtractRequest& request, v::WorkerReport& report,
                         std::stop_token stop);

// Writes the content of one item (a file's bytes, a message's source) to `fd`: all of it, or
// (for a preview) at most `limit` bytes, decoding no further; `*cut` then says whether there
// was more. A stop ends it as cancelled.
v::Outcome CatItem(const ExtractRequest& request, const std::string& item, int fd,
                   uint64_t limit = UINT64_MAX, std::stop_token stop = {}, bool* cut = nullptr);

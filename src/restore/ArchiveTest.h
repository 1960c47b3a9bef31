#pragma once
// Reads an archive from end to end and says whether it is sound: a valid header, every record
// and payload complete, the last record ending exactly at the end of the file, and every frame
// that can be checked without the password decoding.
#include <cstdint>
#include <stop_token>
#include <string>

#include "model/Outcome.h"
#include "model/Worker.h"

class SealKey;

struct ArchiveTestResult {
    enum class Verdict {
        Sound,
        NotAnArchive,
        CannotOpen,
        Truncated,
        Damaged,
        Cancelled,
        Failed,
        WrongPassword
    };
    // How the archive is encrypted: not at all, with the original format's weak scheme, or
    // sealed.
    enum class Scheme { None, Legacy, Sealed };
    Scheme scheme = Scheme::None;
    Verdict verdict = Verdict::Sound;
    uint64_t records = 0;     // complete records read
    std::string damagedItem;  // the first item whose frames did not decode
    std::string damage;       // what is wrong, when it is not one item (the records themselves)
    uint32_t percent = 0;     // how far the walk got
    // False for an encrypted archive tested without its password: only the shape of its
    // frames could be checked.
    bool contentsChecked = true;
    std::string Describe() const;
};

// Walks the archive; with a password, encrypted frames are decrypted and checked too (and a
// sealed archive's frames and closing record authenticated).
// Reports progress (percent) when `report` is given; does not report Done.
// `key`, when the caller has already unlocked the sealed archive, spares deriving it again.
ArchiveTestResult TestArchive(const std::string& path, const std::u16string& password,
                              v::WorkerReport* report, std::stop_token stop,
                              const SealKey* key = nullptr);

// TestArchive as a job: reports Done at the end.
ArchiveTestResult TestArchiveWorker(const std::u16string& path, const std::u16string& password,
                                    v::WorkerReport& report, std::stop_token stop);

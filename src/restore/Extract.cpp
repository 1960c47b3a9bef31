#include "restore/Extract.h"
#include "restore/RecordTree.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "archive/ArchiveReader.h"
#include "base/AtomicFile.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/ItemProgress.h"
#include "model/MessageNodes.h"
#include "platform/stores/mbox/MboxFile.h"

using namespace tindale;

namespace {

bool IsFileRecord(const v::NodeRecord& rec) {
    return rec.TypeGuid() == v::FileFolderNode::kTypeGuid;
}

bool IsMessage(const v::NodeRecord& rec) {
    return rec.TypeGuid() == v::MsgNode::kTypeGuid;
}

// Copies the rest of `in`; false when a write failed or the job was stopped part way (a
// large file stops at once, and its unnamed file is dropped).
bool CopyRest(v::BasicStream& in, int fd, std::stop_token stop = {}) {
    std::vector<uint8_t> buffer(1 << 16);
    for (int32_t n; (n = in.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
        if (!v::WriteAllToFd(fd, buffer.data(), static_cast<size_t>(n))) return false;
        if (stop.stop_requested()) return false;
    }
    return true;
}

// Copies at most `limit` bytes; `*cut` (when given) says whether more was left unread.
bool CopyAtMost(v::BasicStream& in, int fd, uint64_t limit, std::stop_token stop, bool* cut) {
    if (limit == UINT64_MAX && !cut) return CopyRest(in, fd, stop);
    std::vector<uint8_t> buffer(1 << 16);
    uint64_t done = 0;
    if (cut) *cut = false;
    while (!stop.stop_requested()) {
        uint64_t room = limit - done;  // one byte more, to learn whether anything is left
        auto want = static_cast<int32_t>(
            std::min<uint64_t>(buffer.size(), room == UINT64_MAX ? room : room + 1));
        int32_t n = in.Read(buffer.data(), want);
        if (n <= 0) return true;
        auto keep = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(n), limit - done));
        if (!v::WriteAllToFd(fd, buffer.data(), keep)) return false;
        done += keep;
        if (keep < static_cast<size_t>(n)) {
            if (cut) *cut = true;
            return true;
        }
    }
    return true;
}

// A path of the archive as relative parts that are safe file names, or none.
// A message's name as one file name: its subject, "/" and NUL made "_", never empty, "."
// or "..".
std::string FileNameFrom(std::u16string_view displayName) {
    std::string name = text::ToUtf8(displayName);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "(no subject)";
    return name.substr(0, 200);
}

std::optional<std::vector<std::string>> SafeParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        size_t slash = path.find('/', begin);
        std::string part = path.substr(begin, slash - begin);
        if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos)
            return std::nullopt;
        parts.push_back(part);
        if (slash == std::string::npos) break;
        begin = slash + 1;
    }
    return parts;
}

// A sealed archive's records are checked against its closing record before anything is
// written: a forged, cut or spliced archive gives nothing. Empty when sound, else why not.
std::string SealedChainProblem(const ExtractRequest& request, const ArchiveReader& opened) {
    if (!opened.Key()) return {};
    ArchiveReader reader;
    if (reader.Open(text::ToUtf8(request.archivePath)) != ArchiveReader::OpenStatus::Readable)
        return "the archive cannot be read";
    auto verdict = SealWalk::CheckChain(reader, *opened.Key());
    if (verdict == SealWalk::Verdict::Sound) return {};
    return "the archive does not authenticate: " + SealWalk::Describe(verdict) +
           "; nothing was written";
}

// A file being extracted: written unnamed beside its target and given the target's name
// only once it is whole and undamaged, so a damaged item never leaves part of itself, nor
// replaces a good file.
class ExtractedFile {
  public:
    ExtractedFile(const std::string& item, const std::string& target, bool overwrite)
        : item_(item),
          target_(target),
          overwrite_(overwrite),
          file_(target, "tindale", tindale::durable::TempFile::Naming::Unnamed) {
        if (!overwrite && ::access(target.c_str(), F_OK) == 0) {
            v::ReportProblem(item,
                             target + " exists already; it was kept (--overwrite replaces it)");
            refused_ = true;
        } else if (!file_.IsOpen()) {
            v::ReportProblem(item, target + " cannot be written: " + std::strerror(file_.Error()));
        }
    }
    int Fd() const { return refused_ ? -1 : file_.Fd(); }
    // Names the file when `whole`; says why not otherwise.
    bool Publish(bool written, const v::BasicStream& payload,
                 std::optional<unsigned> mode = std::nullopt) {
        if (Fd() < 0) return false;
        if (payload.Damaged()) {
            v::ReportProblem(item_,
                             "part of its data in the archive is damaged; it was not extracted" +
                                 std::string(overwrite_ ? " and " + target_ + " was kept" : ""));
            return false;
        }
        if (!written) {
            v::ReportProblem(item_, target_ + " could not be written completely");
            return false;
        }
        if (!overwrite_ && ::access(target_.c_str(), F_OK) == 0) {
            v::ReportProblem(item_,
                             target_ + " exists already; it was kept (--overwrite replaces it)");
            return false;
        }
        if (mode)
            file_.SetPermissions(*mode);
        else
            file_.TakeModeOfTarget(true);
        if (file_.PublishNow()) return true;
        v::ReportProblem(item_, target_ + " cannot be written: " + std::strerror(file_.Error()));
        return false;
    }

  private:
    std::string item_, target_;
    bool overwrite_;
    bool refused_ = false;
    tindale::durable::TempFile file_;
};

// Opens the archive of a request, with its key or password when it is encrypted.
ArchiveReader::OpenStatus OpenForReading(ArchiveReader& reader, const ExtractRequest& request,
                                         std::stop_token stop) {
    auto status = reader.Open(text::ToUtf8(request.archivePath));
    if (status != ArchiveReader::OpenStatus::Readable || !reader.Header().Encrypted())
        return status;
    if (!request.key) return reader.Unlock(request.password, stop);
    reader.UseKey(*request.key);
    return status;
}

class Extraction {
  public:
    Extraction(const ExtractRequest& request, v::WorkerReport& report, std::stop_token stop)
        : request_(request), report_(report), stop_(stop) {}

    v::Outcome Run() {
        v::Outcome outcome;
        v::OutcomeScope scope(outcome);
        ArchiveReader reader;
        auto status = OpenForReading(reader, request_, stop_);
        if (status == ArchiveReader::OpenStatus::WrongPassword) {
            outcome.Fail("wrong password");
            return outcome;
        }
        if (status != ArchiveReader::OpenStatus::Readable) {
            outcome.Fail("the archive cannot be read");
            return outcome;
        }
        if (auto problem = SealedChainProblem(request_, reader); !problem.empty()) {
            outcome.Fail(problem);
            return outcome;
        }
        if (::mkdir(request_.target.c_str(), 0700) != 0 && errno != EEXIST) {
            outcome.Fail("the folder " + request_.target +
                         " cannot be made: " + std::strerror(errno));
            return outcome;
        }
        std::optional<SealWalk> walk;
        if (reader.Key()) walk.emplace(*reader.Key());
        // Every payload is decoded ahead: what is not wanted is passed over unread anyway.
        reader.DecodeAhead(request_.password, reader.Key(),
                           [](const v::NodeRecord&) { return true; });
        std::set<std::string> wanted(request_.items.begin(), request_.items.end());
        std::set<std::string> found;
        report_.Progress(0, 100);
        for (; !reader.AtEnd() && !stop_.stop_requested(); reader.Advance()) {
            ReportPercent(reader);
            if (walk && walk->Observe(reader)) continue;
            auto nested = paths_.Of(reader.Record());
            if (!nested) {
                v::ReportProblem("the archive",
                                 std::string(kTooDeep) + "; later items were not read");
                break;
            }
            std::string path = *nested;
            std::string chosenBy;
            if (!Wanted(path, wanted, chosenBy)) continue;
            found.insert(chosenBy);
            report_.Activity(path.c_str());
            FrameDecodingStream frames(reader, request_.password, reader.Key());
            if (Extract(reader.Record(), path, frames)) ++outcome.itemsDone;
        }
        if (stop_.stop_requested())
            outcome.cancelled = true;
        else if (walk && walk->Finish(reader) != SealWalk::Verdict::Sound)
            v::ReportProblem("the archive", SealWalk::Describe(walk->Finish(reader)));
        else if (reader.Reason() == ArchiveReader::EndReason::Truncated)
            v::ReportProblem("the archive", reader.DescribeEnd() + "; later items are missing");
        for (const auto& item : wanted)
            if (!found.count(item))
                v::ReportProblem(item, "the archive holds no such item (see tindale-cli list)");
        return outcome;
    }

  private:
    static bool Wanted(const std::string& path, const std::set<std::string>& wanted,
                       std::string& chosenBy) {
        if (wanted.empty()) return true;
        for (std::string at = path;;) {
            if (wanted.count(at)) {
                chosenBy = at;
                return true;
            }
            auto slash = at.rfind('/');
            if (slash == std::string::npos) return false;
            at.resize(slash);
        }
    }

    std::optional<std::string> Place(const std::string& path, bool folder) {
        auto parts = SafeParts(path);
        if (!parts) {
            v::ReportProblem(path,
                             "its name cannot be a file name here (empty, \".\", \"..\" or "
                             "a \"/\" in a name); it was not extracted");
            return std::nullopt;
        }
        std::string at = request_.target;
        for (size_t i = 0; i < parts->size(); ++i) {
            at += "/" + (*parts)[i];
            bool last = i + 1 == parts->size();
            if (last && !folder) break;
            struct stat st {};
            if (::lstat(at.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
                v::ReportProblem(path, at + " is there already and is not a folder");
                return std::nullopt;
            }
            ::mkdir(at.c_str(), 0700);
        }
        return at;
    }

    // Copies the rest of `payload` into a new file at `where`, named only when whole.
    bool WriteWhole(const std::string& path, const std::string& where, v::BasicStream& payload,
                    std::optional<unsigned> mode = std::nullopt) {
        ExtractedFile file(path, where, request_.overwrite);
        if (file.Fd() < 0) return false;
        v::ItemProgressStream counted(payload, report_, false);
        bool ok = CopyRest(counted, file.Fd(), stop_);
        if (stop_.stop_requested()) return false;  // cancelled: nothing of it is left
        return file.Publish(ok, payload, mode);
    }

    // Whether the item was extracted whole.
    bool Extract(const v::NodeRecord& rec, const std::string& path, v::BasicStream& payload) {
        if (rec.IsContainer() && IsMailFolder(rec) && request_.mail == MailForm::Mbox)
            return MboxFileFor(path).has_value();
        if (rec.IsContainer()) {
            auto folder = Place(path, true);
            if (folder && IsMailFolder(rec) && request_.mail == MailForm::Maildir)
                for (const char* sub : {"/cur", "/new", "/tmp"})
                    ::mkdir((*folder + sub).c_str(), 0700);
            return folder.has_value();
        }
        if (IsFileRecord(rec)) return ExtractFile(path, payload);
        if (IsMessage(rec)) return ExtractMessage(rec, path, payload);
        v::ReportProblem(path,
                         "a settings item: a restore puts it back, it cannot be extracted "
                         "as a file");
        return false;
    }

    static bool IsMailFolder(const v::NodeRecord& rec) {
        return rec.TypeGuid() == v::MsgFolder::kTypeGuid;
    }

    bool ExtractFile(const std::string& path, v::BasicStream& payload) {
        uint8_t header[v::kFileHeaderSize];
        if (ReadFully(payload, header, sizeof header) != sizeof header) {
            v::ReportProblem(path, "its data in the archive is cut short");
            return false;
        }
        if (header[v::kFileFolderFlagAt]) return Place(path, true).has_value();
        auto where = Place(path, false);
        v::DeclaredSizeStream bounded(payload, text::GetU64(header + v::kFileSizeAt));
        return where && WriteWhole(path, *where, bounded, v::PermissionsOf(header));
    }

    bool ExtractMessage(const v::NodeRecord& rec, const std::string& path,
                        v::BasicStream& payload) {
        uint8_t header[v::kMessageHeaderSize];
        if (ReadFully(payload, header, sizeof header) != sizeof header) {
            v::ReportProblem(path, "its data in the archive is cut short");
            return false;
        }
        auto state = v::ReadMessageState(header).value_or(store::MessageState{});
        // Its folder is its parent record's path: a subject may hold a "/".
        std::string folder = paths_.ParentOf(rec);
        if (request_.mail == MailForm::Mbox) return WriteMbox(path, folder, state, payload);
        auto place = Place(folder, true);
        if (!place) return false;
        if (request_.mail == MailForm::Eml)
            return WriteEml(path, *place + "/" + FileNameFrom(rec.DisplayName()), payload);
        return WriteMaildir(path, *place, state, payload);
    }

    // The mbox file of the mail folder at `folder` (an archive path), laid out as Thunderbird
    // keeps its folders: the file named as the folder, its subfolders in "NAME.sbd" beside it.
    // Made (empty) when missing, so that a folder without messages is there too.
    std::optional<std::string> MboxFileFor(const std::string& folder) {
        if (auto known = mboxFiles_.find(folder); known != mboxFiles_.end()) return known->second;
        auto slash = folder.rfind('/');
        if (slash == std::string::npos) return std::nullopt;
        std::string parent = folder.substr(0, slash), name = folder.substr(slash + 1);
        std::optional<std::string> dir;
        if (auto above = mboxFiles_.find(parent); above != mboxFiles_.end()) {
            dir = above->second + ".sbd";
            ::mkdir(dir->c_str(), 0700);
        } else {
            dir = Place(parent, true);
        }
        if (!dir) return std::nullopt;
        std::string file = *dir + "/" + name;
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            v::ReportProblem(folder, file + " cannot be written: " + std::strerror(errno));
            return std::nullopt;
        }
        ::close(fd);
        mboxFiles_[folder] = file;
        return file;
    }

    bool WriteMbox(const std::string& path, const std::string& folder,
                   const store::MessageState& state, v::BasicStream& payload) {
        auto file = MboxFileFor(folder);
        if (!file) return false;
        int fd = ::memfd_create("tindale-message", MFD_CLOEXEC);
        bool ok = fd >= 0 && CopyRest(payload, fd);
        if (ok && payload.Damaged())
            v::ReportProblem(path,
                             "part of its data in the archive is damaged; it was not extracted");
        else if (ok && !Mbox(*file).Append(fd, &state))
            v::ReportProblem(path, *file + " could not be written");
        else if (!ok)
            v::ReportProblem(path, "it could not be written");
        if (fd >= 0) ::close(fd);
        return ok && !payload.Damaged();
    }

    bool WriteEml(const std::string& path, const std::string& where, v::BasicStream& payload) {
        // Messages share subjects: a second "Hello" becomes "Hello (2).eml".
        std::string name = where + ".eml";
        for (int n = 2; names_.count(name); ++n) name = where + " (" + std::to_string(n) + ").eml";
        names_.insert(name);
        return WriteWhole(path, name, payload);
    }

    bool WriteMaildir(const std::string& path, const std::string& folder,
                      const store::MessageState& state, v::BasicStream& payload) {
        for (const char* sub : {"/cur", "/new", "/tmp"}) ::mkdir((folder + sub).c_str(), 0700);
        std::string unique = std::to_string(std::time(nullptr)) + ".T" +
                             std::to_string(++counter_) + "P" + std::to_string(::getpid()) +
                             ".tindale";
        std::string temp = folder + "/tmp/" + unique;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            v::ReportProblem(path, temp + " cannot be written: " + std::strerror(errno));
            return false;
        }
        bool ok = CopyRest(payload, fd);
        if (ok && payload.Damaged()) {
            ::close(fd);
            ::unlink(temp.c_str());
            v::ReportProblem(path,
                             "part of its data in the archive is damaged; it was not extracted");
            return false;
        }
        if (ok && state.known && state.arrivalSeconds != 0) {
            timespec times[2] = {{0, UTIME_OMIT},
                                 {state.arrivalSeconds, static_cast<long>(state.arrivalNanos)}};
            ::futimens(fd, times);
        }
        ok = ::close(fd) == 0 && ok;
        std::string target = folder + "/" + state.RelativeName(unique);
        if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
            ::unlink(temp.c_str());
            v::ReportProblem(path, "it could not be written to " + folder);
            return false;
        }
        return true;
    }

    store::MboxFile& Mbox(const std::string& file) {
        auto it = mboxes_.find(file);
        if (it == mboxes_.end())
            it = mboxes_.emplace(file, std::make_unique<store::MboxFile>(file, std::string()))
                     .first;  // no id map: nobody asks for these ids again
        return *it->second;
    }

    const ExtractRequest& request_;
    // How far through the file the walk is, in percent, reported when it changes.
    void ReportPercent(const ArchiveReader& reader) {
        uint64_t size = std::max<uint64_t>(reader.FileSize(), 1);
        auto percent = static_cast<unsigned>(reader.PayloadPosition() * 100 / size);
        if (percent == percent_) return;
        percent_ = percent;
        report_.Progress(percent, 0);
    }

    v::WorkerReport& report_;
    unsigned percent_ = 0;
    std::stop_token stop_;
    RecordPaths paths_;
    std::set<std::string> names_;
    std::map<std::string, std::unique_ptr<store::MboxFile>> mboxes_;
    std::map<std::string, std::string> mboxFiles_;  // a mail folder's path -> its mbox file
    unsigned counter_ = 0;
};

}  // namespace

v::Outcome ExtractWorker(const ExtractRequest& request, v::WorkerReport& report,
                         std::stop_token stop) {
    v::Outcome outcome = v::Guarded([&] { return Extraction(request, report, stop).Run(); });
    report.Done();
    return outcome;
}

v::Outcome CatItem(const ExtractRequest& request, const std::string& item, int fd, uint64_t limit,
                   std::stop_token stop, bool* cut) {
    return v::Guarded([&] {
        v::Outcome outcome;
        v::OutcomeScope scope(outcome);
        ArchiveReader reader;
        auto status = OpenForReading(reader, request, stop);
        if (status != ArchiveReader::OpenStatus::Readable) {
            outcome.Fail(status == ArchiveReader::OpenStatus::WrongPassword
                             ? "wrong password"
                             : "the archive cannot be read");
            return outcome;
        }
        if (auto problem = SealedChainProblem(request, reader); !problem.empty()) {
            outcome.Fail(problem);
            return outcome;
        }
        RecordPaths paths;
        for (; !reader.AtEnd(); reader.Advance()) {
            const auto& rec = reader.Record();
            auto path = paths.Of(rec);
            if (!path) break;  // deeper than any real tree: nothing below is shown
            if (*path != item || rec.IsContainer()) continue;
            size_t skip = IsFileRecord(rec) ? v::kFileHeaderSize
                          : IsMessage(rec)  ? v::kMessageHeaderSize
                                            : 0;
            if (skip == 0) {
                outcome.Fail(item + " is a settings item, which has no content of its own to show");
                return outcome;
            }
            FrameDecodingStream frames(reader, request.password, reader.Key());
            std::vector<uint8_t> header(skip);
            bool read = ReadFully(frames, header.data(), skip) == skip;
            std::optional<v::DeclaredSizeStream> bounded;
            if (read && IsFileRecord(rec))
                bounded.emplace(frames, text::GetU64(header.data() + v::kFileSizeAt));
            v::BasicStream& content = bounded ? static_cast<v::BasicStream&>(*bounded) : frames;
            if (!read || !CopyAtMost(content, fd, limit, stop, cut))
                outcome.Fail("the content of " + item + " could not be written");
            else if (stop.stop_requested())
                outcome.cancelled = true;
            else if (content.Damaged())
                outcome.Fail("part of " + item + "'s data in the archive is damaged");
            else
                outcome.itemsDone = 1;
            return outcome;
        }
        outcome.Fail("the archive holds no item \"" + item +
                     "\" that has content (see "
                     "tindale-cli list)");
        return outcome;
    });
}

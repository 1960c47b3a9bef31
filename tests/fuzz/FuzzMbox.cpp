// Mbox folders as any writer may have left them: every input loads without a crash, each
// message read lies inside the file (its quoting undone, its state lines taken off), and removing
// one message rewrites the folder so that it reads back with exactly one message fewer and the
// others unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/stores/mbox/MboxFile.h"
#include "platform/stores/mbox/MboxQuoting.h"
#include "platform/stores/mbox/MboxStatus.h"

namespace {

std::vector<std::string> Messages(tindale::store::MboxFile& box) {
    std::vector<std::string> out;
    for (uint32_t id : box.Files().IdsFrom()) {
        auto message = box.Find(id);
        if (!message) std::abort();
        int fd = box.OpenCopy(*message);
        if (fd < 0) std::abort();
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        // The stored bytes, with their mboxrd quoting undone.
        std::string stored(message->length, '\0');
        int file = ::open(box.Path().c_str(), O_RDONLY);
        ssize_t got =
            ::pread(file, stored.data(), stored.size(), static_cast<off_t>(message->start));
        ::close(file);
        if (got != static_cast<ssize_t>(stored.size()) ||
            bytes != tindale::store::WithoutMboxState(tindale::store::UnquoteFromMbox(stored)))
            std::abort();
        out.push_back(std::move(bytes));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzz-mbox-XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    std::string path = dir + "/Inbox", ids = dir + "/ids";
    ::unlink(ids.c_str());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    tindale::store::MboxFile box(path, ids);
    if (box.Load() != 0) std::abort();
    auto before = Messages(box);
    if (before.empty()) return 0;
    uint32_t first = box.Files().IdsFrom().front();
    if (box.Remove({first}) != 0) std::abort();
    auto after = Messages(box);
    if (after != std::vector<std::string>(before.begin() + 1, before.end())) std::abort();
    return 0;
}

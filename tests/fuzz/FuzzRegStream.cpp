// Settings records as a restore applies them: any bytes, cut anywhere, into a throwaway
// registry; nothing is kept between inputs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/RegStreams.h"
#include "platform/Registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/tindale-fuzz-XXXXXX";
    if (::mkdtemp(dir))
        ::setenv("TINDALE_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tindale::reg::Transaction batch;
    v::RegStream writer(u"Software\\Microsoft\\Outlook Express");
    size_t half = size / 2;  // in two writes, as pieces arrive
    writer.Write(data, static_cast<int32_t>(half));
    writer.Write(data + half, static_cast<int32_t>(size - half));
    batch.Abandon();
    return 0;
}

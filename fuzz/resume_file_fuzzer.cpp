// libFuzzer target: the resume file's reader over arbitrary text, as it
// comes and with a digest line that fits it (so that the fields behind the
// digest check are read too). What it accepts is written back the same way
// and read back to the same state.
#include "scan/CResumeFile.h"
#include "scan/CSha256.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void readBack(const std::string& text) {
    tagResumeState state;
    std::string error;
    if (!CResumeFile::parse(text, state, error))
        return;
    const std::string again = CResumeFile::compose(state);
    tagResumeState reread;
    if (!CResumeFile::parse(again, reread, error) || CResumeFile::compose(reread) != again)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    readBack(text);
    readBack(text + "sha256 " + CSha256::of(data, size) + "\n");
    return 0;
}

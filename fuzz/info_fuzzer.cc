// The info-file reader over any bytes: a size it accepts always describes a 32-bit image.
#include "slot_files.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::SlotSize s;
    if (quarn::parseInfo(reinterpret_cast<const char*>(data), size, s)) {
        if (s.width < 0 || s.height < 0 || s.count() > INT32_MAX) std::abort();
    }
    return 0;
}

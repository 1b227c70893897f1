// The batch-script reader over any bytes: it ends, and every list it returns came from the text.
#include "core/batch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto s = tovra::parseScript(text)) {
        if (static_cast<size_t>(s->files.size()) + s->operations.size() > size) std::abort();
        for (int16_t code : s->operations)
            if (code == 0) std::abort();
    }
    return 0;
}

// No C++ exception may cross the libraries' C interface: an allocation or thread-creation
// failure inside an export becomes the export's failure status.
#pragma once

namespace quarnk {

template <typename Result, typename Body> Result noThrow(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

} // namespace quarnk

// Takes numbers off the front of a fuzz input, the rest being the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <typename T> T take() {
        T v{};
        const size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        if (n == 0) return v; // an empty input may come with no data pointer at all
        std::memcpy(&v, data_, n);
        data_ += n;
        size_ -= n;
        return v;
    }
    // A number in lo..hi.
    int32_t range(int32_t lo, int32_t hi) {
        const uint32_t span = static_cast<uint32_t>(hi - lo) + 1u;
        return lo + static_cast<int32_t>(take<uint32_t>() % (span == 0 ? 1u : span));
    }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

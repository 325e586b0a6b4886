// What the fuzz targets share: a property check that stops the run where it fails, and the
// cutting of an input into the reads a port might deliver.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace zolt::fuzz {

// abort() rather than an exception or a return code: libFuzzer then keeps the input.
inline void Require(bool condition) {
    if (!condition) std::abort();
}

// Cuts an input into chunks whose sizes come from the input itself, so that the fuzzer
// explores how a stream is split over reads as well as what it holds. The first byte says
// how many size bytes follow (1 to 8); the sizes (1 to 64) are used in turn, over and over,
// on the rest of the input.
class Chunks {
public:
    explicit Chunks(std::span<const std::uint8_t> input) {
        if (input.empty()) return;
        const std::size_t n = std::min<std::size_t>(input[0] % 8 + 1, input.size() - 1);
        sizes_ = input.subspan(1, n);
        rest_ = input.subspan(1 + n);
    }

    // The whole stream, as one sender wrote it.
    std::span<const std::uint8_t> Stream() const { return rest_; }

    // The next chunk, or an empty one when the stream is used up.
    std::span<const std::uint8_t> Next() {
        std::size_t size = rest_.size() - offset_;
        if (!sizes_.empty()) size = std::min<std::size_t>(size, sizes_[turn_++ % sizes_.size()] % 64 + 1);
        const auto chunk = rest_.subspan(offset_, size);
        offset_ += size;
        return chunk;
    }

private:
    std::span<const std::uint8_t> sizes_;
    std::span<const std::uint8_t> rest_;
    std::size_t offset_ = 0;
    std::size_t turn_ = 0;
};

}  // namespace zolt::fuzz

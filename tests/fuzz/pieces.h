#pragma once

// The pieces a network read might cut a body into, chosen by the fuzz input itself, so that a push
// parser meets every split of the same bytes and the fuzzer can steer towards the awkward ones.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornel::fuzz {

class Pieces {
 public:
  // Takes the plan from the front of the input (a count byte, then that many size bytes) and
  // leaves `data` and `size` at what follows it.
  Pieces(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) return;
    const std::size_t count = 1 + data[0] % 8;
    ++data;
    --size;
    for (std::size_t i = 0; i < count && size > 0; ++i, ++data, --size) {
      // Mostly reads of a few bytes, where cuts fall inside every field; now and then a large one.
      sizes_.push_back(data[0] < 192 ? data[0] : static_cast<std::size_t>(data[0] - 191) * 256);
    }
  }

  // Calls piece(const uint8_t*, size_t) for consecutive pieces of `data`, sizes taken in turn.
  // Each piece lives in an allocation of its own: a read past the piece's end is then a read past
  // the allocation, which the address sanitizer reports, where within the input it would pass.
  template <typename OnPiece>
  void split(const std::uint8_t* data, std::size_t size, OnPiece&& piece) const {
    std::size_t turn = 0;
    std::size_t emptyInARow = 0;
    while (size > 0) {
      std::size_t n = sizes_.empty() ? size : sizes_[turn++ % sizes_.size()];
      // A plan of nothing but empty reads would never end.
      if (n == 0 && ++emptyInARow > sizes_.size()) n = size;
      if (n > 0) emptyInARow = 0;
      if (n > size) n = size;
      std::vector<std::uint8_t> own(data, data + n);
      static const std::uint8_t kNothing = 0;
      piece(n > 0 ? own.data() : &kNothing, n);
      data += n;
      size -= n;
    }
  }

 private:
  std::vector<std::size_t> sizes_;
};

}  // namespace vornel::fuzz

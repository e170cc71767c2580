#pragma once

// What the recorder needs to know of a stream's format: the file extension, where in a block a
// file may begin (a frame header, or an Ogg page), and for Ogg the header pages every file must
// begin with. The audio library hands out blocks that begin at a frame or a page, so the search
// usually stops at the block's first byte; it still searches, for a block that begins with
// other bytes (a tag, junk between frames).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::playback {

enum class RecordFormat { Unknown, Mp3, Aac, Vorbis, Opus };

// ".mp3", ".aac", ".ogg" or ".opus"; ".mp3" while the format is not known yet.
const char* RecordExtension(RecordFormat format);

// The format of the first frame or page in `data`, Unknown when there is none.
RecordFormat DetectRecordFormat(const std::uint8_t* data, std::size_t size);

// Where in `data` a file of `format` may begin; `size` when nowhere.
std::size_t FindRecordStart(RecordFormat format, const std::uint8_t* data, std::size_t size);

// Where an MPEG audio Layer III frame header starts in `data`, or `size` when there is none. Any
// MPEG version (1, 2 or 2.5), with or without checksum.
std::size_t FindFrameHeader(const std::uint8_t* data, std::size_t size);

// True when `data` begins with the first page of an Ogg logical stream.
bool IsOggStreamStart(const std::uint8_t* data, std::size_t size);

// The header pages of the Ogg logical stream now playing (identification, comments and, for
// Vorbis, setup), collected from the blocks as they pass, so that a file cut from the middle of a
// stream can begin with them. A new logical stream (the next track of a chain) replaces them.
class OggHeaderPages {
 public:
  // Every block of the stream, in order. Blocks that do not begin with a page are passed over.
  void observe(const std::uint8_t* data, std::size_t size);

  // The header pages seen so far of the stream now playing (all of them once complete()); a block
  // that continues them completes the set.
  const std::vector<std::uint8_t>& pages() const { return pages_; }
  bool complete() const { return complete_; }

  void clear();

 private:
  void page(const std::uint8_t* data, std::size_t size);

  std::vector<std::uint8_t> pages_;
  std::uint32_t serial_ = 0;
  int packetsLeft_ = 0;  // header packets still to come
  bool complete_ = false;
};

}  // namespace vornel::playback

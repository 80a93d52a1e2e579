// MessageBuffer: an outgoing broker-protocol message as a chain of chunks.
//
// Growing a message adds a chunk instead of copying what is written: the
// first chunk has at least 8192 bytes and reserves 4 bytes at its front for
// the frame length; when a write needs n more bytes than the current chunk
// holds, the next chunk has ((n + 3) rounded down to a multiple of 4) + 4
// bytes, or that plus 8192 when it is 8192 or more (at least 8192 in any
// case). finish() writes the body length into the reserved bytes; pieces()
// then gives the whole frame for a gathered write.
//
// Thread safety: none; a buffer is a value owned by one thread.

#ifndef TALVO_RUNTIME_PROTOCOL_MESSAGE_BUFFER_H_
#define TALVO_RUNTIME_PROTOCOL_MESSAGE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace talvo {

class MessageBuffer {
 public:
  static constexpr std::size_t kMinChunk = 8192;
  static constexpr std::size_t kLengthBytes = 4;

  // A buffer whose first chunk holds at least `initial` bytes.
  explicit MessageBuffer(std::size_t initial = kMinChunk);
  MessageBuffer(MessageBuffer&&) noexcept = default;
  MessageBuffer& operator=(MessageBuffer&&) noexcept = default;

  // Appends bytes, filling the current chunk and chaining a new one for
  // what does not fit.
  void write(std::span<const std::uint8_t> bytes);
  // Body bytes written so far (without the reserved length).
  std::size_t bodySize() const { return body_size_; }
  // Stores the body length in the reserved bytes (big-endian).
  void finish();

  // The filled part of each chunk, reserved length included.
  std::vector<std::span<const std::uint8_t>> pieces() const;
  // Capacities of the chunks, in order (for inspection).
  std::vector<std::size_t> chunkCapacities() const;

  // The size of the chunk that follows one lacking `n` bytes.
  static std::size_t nextChunkSize(std::size_t n);

 private:
  struct Chunk {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  void addChunk(std::size_t capacity);

  std::vector<Chunk> chunks_;
  std::size_t body_size_ = 0;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_PROTOCOL_MESSAGE_BUFFER_H_

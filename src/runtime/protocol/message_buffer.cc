#include "runtime/protocol/message_buffer.h"

#include <algorithm>
#include <cstring>

namespace talvo {

MessageBuffer::MessageBuffer(std::size_t initial) {
  addChunk(std::max(initial, kMinChunk));
  chunks_.front().used = kLengthBytes;
}

std::size_t MessageBuffer::nextChunkSize(std::size_t n) {
  std::size_t size = ((n + 3) & ~std::size_t{3}) + 4;
  return size < kMinChunk ? kMinChunk : size + kMinChunk;
}

void MessageBuffer::addChunk(std::size_t capacity) {
  Chunk chunk;
  chunk.data = std::make_unique<std::uint8_t[]>(capacity);
  chunk.capacity = capacity;
  chunks_.push_back(std::move(chunk));
}

void MessageBuffer::write(std::span<const std::uint8_t> bytes) {
  body_size_ += bytes.size();
  Chunk* chunk = &chunks_.back();
  std::size_t room = chunk->capacity - chunk->used;
  std::size_t first = std::min(room, bytes.size());
  if (first > 0) {
    std::memcpy(chunk->data.get() + chunk->used, bytes.data(), first);
    chunk->used += first;
  }
  std::size_t rest = bytes.size() - first;
  if (rest == 0) return;
  addChunk(nextChunkSize(rest));
  chunk = &chunks_.back();
  std::memcpy(chunk->data.get(), bytes.data() + first, rest);
  chunk->used = rest;
}

void MessageBuffer::finish() {
  std::uint32_t n = static_cast<std::uint32_t>(body_size_);
  std::uint8_t* p = chunks_.front().data.get();
  p[0] = static_cast<std::uint8_t>(n >> 24);
  p[1] = static_cast<std::uint8_t>(n >> 16);
  p[2] = static_cast<std::uint8_t>(n >> 8);
  p[3] = static_cast<std::uint8_t>(n);
}

std::vector<std::span<const std::uint8_t>> MessageBuffer::pieces() const {
  std::vector<std::span<const std::uint8_t>> out;
  out.reserve(chunks_.size());
  for (const Chunk& chunk : chunks_) {
    out.emplace_back(chunk.data.get(), chunk.used);
  }
  return out;
}

std::vector<std::size_t> MessageBuffer::chunkCapacities() const {
  std::vector<std::size_t> out;
  for (const Chunk& chunk : chunks_) out.push_back(chunk.capacity);
  return out;
}

}  // namespace talvo

#pragma once

#include <cstddef>

// One block of memory for all learned models of a detect, handed out piece
// by piece. A first training of eight cameras learns about a gigabyte of
// statistics and sample pixels; taken as some thousand separate allocations,
// every 4 KB page is a fault of its own the first time it is written, and
// those faults were most of the training's time. One block asks for large
// pages instead, and a retraining of the same areas writes into the block it
// already has.
//
// The block only grows. Whoever took pieces of it must stop using them before
// the next reserve() that may move it (the engine detaches a detect's models
// first).
class ModelBlock {
public:
    // Every piece starts on this boundary (vector loads, one cache line).
    static constexpr std::size_t kAlign = 64;

    ModelBlock() = default;
    ~ModelBlock();
    ModelBlock(const ModelBlock&) = delete;
    ModelBlock& operator=(const ModelBlock&) = delete;

    // Room for at least bytes, all pieces taken back; the block moves only when
    // it is too small (or there is none). False when the memory cannot be had:
    // the block is then empty.
    bool reserve(std::size_t bytes);
    // The next piece of bytes (rounded up to kAlign), or null when the
    // reserved room is used up.
    unsigned char* take(std::size_t bytes);
    // Frees the block.
    void release();

    static std::size_t rounded(std::size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }
    std::size_t capacity() const { return m_capacity; }
    std::size_t used() const { return m_used; }

private:
    unsigned char* m_data = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
};

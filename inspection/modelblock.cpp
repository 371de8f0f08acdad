#include "modelblock.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// The size of a large page on the machines this runs on.
constexpr std::size_t kLargePage = std::size_t(2) << 20;

} // namespace

ModelBlock::~ModelBlock()
{
    release();
}

bool ModelBlock::reserve(std::size_t bytes)
{
    m_used = 0;
    if (bytes <= m_capacity && m_data) {
        return true;
    }
    release();
    if (bytes == 0) {
        return true;
    }
    // Whole large pages, on a large page's boundary: the kernel can back the
    // block with them only so.
    const std::size_t size = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = nullptr;
    if (posix_memalign(&p, kLargePage, size) != 0 || !p) {
        return false;
    }
#if defined(MADV_HUGEPAGE)
    // Only advice: where large pages are off the block works page by page.
    madvise(p, size, MADV_HUGEPAGE);
#endif
    m_data = static_cast<unsigned char*>(p);
    m_capacity = size;
    return true;
}

unsigned char* ModelBlock::take(std::size_t bytes)
{
    const std::size_t size = rounded(bytes);
    if (!m_data || size > m_capacity - m_used) {
        return nullptr;
    }
    unsigned char* piece = m_data + m_used;
    m_used += size;
    return piece;
}

void ModelBlock::release()
{
    std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
    m_used = 0;
}

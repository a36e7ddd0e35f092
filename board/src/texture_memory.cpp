#include "texture_memory.h"

#include "texture_file.h"

#include <algorithm>
#include <bit>

namespace board {

void refresh_lanes(TextureLevel& level) {
    level.lanes.resize(level.texels.size());
    for (size_t i = 0; i < level.texels.size(); ++i) {
        uint32_t c = level.texels[i];
        level.lanes[i] = (uint64_t(c & 0x00FF0000u) << 16) | ((c & 0x0000FF00u) << 8) | (c & 0xFFu);
    }
}

const TextureLevel& Texture::level(GrLOD_t lod) const {
    size_t index = size_t(std::clamp(lod, large_lod, small_lod) - large_lod);
    return levels[std::min(index, levels.size() - 1)];
}

GrMipMapId_t TextureMemory::allocate(const TextureRequest& r) {
    if (r.tmu != GR_TMU0)
        return GR_NULL_MIPMAP_HANDLE; // the board has one texture unit
    uint32_t bytes = texture_bytes(r.format, r.small_lod, r.large_lod, r.aspect);
    if (bytes == 0)
        return GR_NULL_MIPMAP_HANDLE;
    Extent largest = level_extent(r.large_lod, r.aspect);
    if (uint32_t(r.width) != largest.width || uint32_t(r.height) != largest.height)
        return GR_NULL_MIPMAP_HANDLE;
    uint32_t aligned = (bytes + 7u) & ~7u; // levels start on 8-byte boundaries
    if (aligned > k_size - m_used)
        return GR_NULL_MIPMAP_HANDLE;
    Texture t;
    static_cast<TextureRequest&>(t) = r;
    t.offset = m_used;
    t.bytes = bytes;
    for (GrLOD_t lod = r.large_lod; lod <= r.small_lod; ++lod) {
        Extent e = level_extent(lod, r.aspect);
        TextureLevel level;
        level.width = e.width;
        level.height = e.height;
        level.width_shift = std::countr_zero(e.width);
        level.height_shift = std::countr_zero(e.height);
        level.texels.assign(size_t(e.width) * e.height, 0xFF000000u);
        t.levels.push_back(std::move(level));
    }
    m_used += aligned;
    m_textures.push_back(std::move(t));
    return GrMipMapId_t(m_textures.size() - 1);
}

bool TextureMemory::download(GrMipMapId_t id, const void* src, const GuTexTable* table) {
    if (id >= m_textures.size() || !src)
        return false;
    Texture& t = m_textures[id];
    const TexelFormat* format = format_by_code(t.format);
    const auto* bytes = static_cast<const uint8_t*>(src);
    for (TextureLevel& level : t.levels) {
        if (!decode_texels(t.format, bytes, level.texels.size(), table, level.texels.data()))
            return false;
        bytes += level.texels.size() * size_t(format->bytes);
        refresh_lanes(level);
    }
    t.downloaded = true;
    return true;
}

const Texture* TextureMemory::find(GrMipMapId_t id) const {
    return id < m_textures.size() ? &m_textures[id] : nullptr;
}

void TextureMemory::reset() {
    m_textures.clear();
    m_used = 0;
}

} // namespace board

// Texture memory of the board's texture unit: a fixed number of bytes handed out in order,
// and for each allocation the levels decoded into 0xAARRGGBB texels for sampling.
#pragma once

#include "glide.h"

#include <cstdint>
#include <vector>

namespace board {

struct TextureLevel {
    uint32_t width{0};
    uint32_t height{0};
    int width_shift{0};           // log2(width)
    int height_shift{0};          // log2(height)
    std::vector<uint32_t> texels; // 0xAARRGGBB, row after row
    // The same colours spread into 16-bit lanes (0x00RR00GG00BB) for bilinear filtering.
    std::vector<uint64_t> lanes;
};

// Fills the level's lanes from its texels.
void refresh_lanes(TextureLevel& level);

// The parameters of guTexAllocateMemory.
struct TextureRequest {
    GrChipID_t tmu{GR_TMU0};
    int width{0};
    int height{0};
    GrTextureFormat_t format{0};
    GrMipMapMode_t mipmap_mode{GR_MIPMAP_DISABLE};
    GrLOD_t small_lod{0};
    GrLOD_t large_lod{0};
    GrAspectRatio_t aspect{GR_ASPECT_1x1};
    GrTextureClampMode_t s_clamp{GR_TEXTURECLAMP_WRAP};
    GrTextureClampMode_t t_clamp{GR_TEXTURECLAMP_WRAP};
    GrTextureFilterMode_t minify{GR_TEXTUREFILTER_BILINEAR};
    GrTextureFilterMode_t magnify{GR_TEXTUREFILTER_BILINEAR};
    float lod_bias{0.0f};
};

// One allocation: the request it was made from and, once downloaded, its levels.
struct Texture : TextureRequest {
    uint32_t offset{0}; // where the texels lie in texture memory
    uint32_t bytes{0};
    bool downloaded{false};
    std::vector<TextureLevel> levels; // large_lod first

    // The level of the given code, clamped to the levels present.
    [[nodiscard]] const TextureLevel& level(GrLOD_t lod) const;
};

class TextureMemory {
public:
    // Bytes of texture memory of the board's one texture unit.
    static constexpr uint32_t k_size = 2u << 20;

    // Reserves memory for a texture; GR_NULL_MIPMAP_HANDLE when the description is invalid,
    // names a texture unit the board lacks, or the memory is used up.
    [[nodiscard]] GrMipMapId_t allocate(const TextureRequest& request);

    // Decodes the texels of every level (largest first, in the download layout) into the
    // texture. False for an unknown handle, missing texels or a missing table.
    bool download(GrMipMapId_t id, const void* src, const GuTexTable* table);

    // The texture of a handle, or nullptr when the handle is unknown.
    [[nodiscard]] const Texture* find(GrMipMapId_t id) const;

    [[nodiscard]] uint32_t used() const { return m_used; }

    // Forgets every texture (the board was closed or reopened).
    void reset();

private:
    std::vector<Texture> m_textures; // the handle is the index
    uint32_t m_used{0};
};

} // namespace board

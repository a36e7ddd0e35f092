// The Glide entry points of the board: each checks its arguments and forwards to the Board.
#include "board.h"
#include "glide.h"
#include "platform/events.h"
#include "platform/prefix.h"
#include "texture_file.h"
#include "platform/file.h"

#include <cstring>
#include <utility>

using board::Board;

namespace {

// The whole 3DF file at a path as the program writes it, parsed; nullopt when it cannot be
// read or is damaged.
std::optional<board::Texture3df> load_3df(const char* filename) {
    if (!filename)
        return std::nullopt;
    auto bytes = platform::read_file(platform::map_path(filename));
    if (!bytes)
        return std::nullopt;
    auto texture = board::parse_3df(*bytes);
    if (!texture)
        return std::nullopt;
    return std::move(*texture);
}

[[gnu::noinline, gnu::cold]] void draw_point_on_board(const GrVertex& v) {
    Board::the().draw_point(v);
}

// The points the quick path leaves, drawn from a copy made field by field: a caller that sees
// grDrawPoint whole (a build with link-time optimisation) can then keep its vertex in
// registers, where passing on its address or copying it as one block would hold it in memory,
// stored again for every point.
[[gnu::cold]] inline void draw_point_slow(const GrVertex& v) {
    static_assert(GLIDE_NUM_TMU == 3);
    auto tmu = [&v](int i) {
        return GrTmuVertex{v.tmuvtx[i].sow, v.tmuvtx[i].tow, v.tmuvtx[i].oow};
    };
    const GrVertex copy{v.x, v.y, v.z, v.r, v.g, v.b, v.ooz, v.a, v.oow, {tmu(0), tmu(1), tmu(2)}};
    draw_point_on_board(copy);
}

} // namespace

extern "C" {

/* ---- lifecycle ---------------------------------------------------------------------------- */

void FX_CALL grGlideInit(void) {
    Board::the().init();
}

void FX_CALL grSstSelect(int which_sst) {
    Board::the().select(which_sst);
}

/* Opens the board full screen; FXFALSE when another program (this one included) has it open,
 * or for a mode the board does not have (640 x 480 at 60 Hz, two colour buffers). */
FxBool FX_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int num_buffers,
                            int num_aux_buffers) {
    return Board::the().open(resolution, refresh, format, origin, num_buffers, num_aux_buffers)
               ? FXTRUE
               : FXFALSE;
}

FxU32 FX_CALL grSstScreenWidth(void) {
    return board::FrameBuffer::k_width;
}
FxU32 FX_CALL grSstScreenHeight(void) {
    return board::FrameBuffer::k_height;
}

/* Accepts every window change unless WINTEST_REFUSE_RESIZE / WINTEST_REFUSE_MOVE ask for a
 * refusal ("always", or "open" while the board is open). */
FxBool FX_CALL grSstControl(FxU32 code) {
    return Board::the().control(code) ? FXTRUE : FXFALSE;
}

/* Closes the board; harmless when it is not open. */
void FX_CALL grGlideShutdown(void) {
    Board::the().shutdown();
}

/* ---- frame buffer ------------------------------------------------------------------------- */

void FX_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
    Board::the().clear(color, alpha, depth);
}

void FX_CALL grBufferSwap(int swap_interval) {
    Board::the().swap(swap_interval);
}

void FX_CALL grRenderBuffer(GrBuffer_t buffer) {
    if (buffer == GR_BUFFER_FRONTBUFFER || buffer == GR_BUFFER_BACKBUFFER)
        Board::the().state().render_buffer = buffer;
}

/* Kept in the state; the 32-bit buffers need no dithering. */
void FX_CALL grDitherMode(GrDitherMode_t mode) {
    Board::the().state().dither = mode;
}

/* ---- render state ------------------------------------------------------------------------- */

void FX_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                            GrCombineLocal_t local, GrCombineOther_t other, FxBool invert) {
    Board::the().state().color = {function, factor, local, other, invert ? 1 : 0};
}

void FX_CALL guColorCombineFunction(GrColorCombineFnc_t function) {
    board::CombineUnit unit;
    if (board::color_combine_preset(function, unit))
        Board::the().state().color = unit;
}

void FX_CALL guAlphaSource(GrAlphaSource_t mode) {
    board::CombineUnit unit;
    if (board::alpha_source_preset(mode, unit))
        Board::the().state().alpha = unit;
}

void FX_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_sf, GrAlphaBlendFnc_t rgb_df,
                                  GrAlphaBlendFnc_t alpha_sf, GrAlphaBlendFnc_t alpha_df) {
    board::RenderState& st = Board::the().state();
    st.rgb_src = rgb_sf;
    st.rgb_dst = rgb_df;
    st.alpha_src = alpha_sf;
    st.alpha_dst = alpha_df;
}

void FX_CALL grAlphaTestFunction(GrCmpFnc_t function) {
    Board::the().state().alpha_test = function;
}

void FX_CALL grTexCombineFunction(GrChipID_t tmu, GrTextureCombineFnc_t function) {
    if (tmu >= GR_TMU0 && tmu < GLIDE_NUM_TMU)
        Board::the().state().tex_combine[tmu] = function;
}

void FX_CALL guTexSource(GrMipMapId_t id) {
    Board::the().state().tex_source[GR_TMU0] = id;
}

void FX_CALL grGlideGetState(GrState* state) {
    if (!state)
        return;
    std::memset(state, 0, sizeof *state);
    std::memcpy(state, &Board::the().state(), sizeof(board::RenderState));
}

void FX_CALL grGlideSetState(const GrState* state) {
    if (state)
        std::memcpy(static_cast<void*>(&Board::the().state()), state, sizeof(board::RenderState));
}

/* ---- drawing ------------------------------------------------------------------------------ */

void FX_CALL grDrawPoint(const GrVertex* a) {
    if (a && !Board::draw_point_quick(*a))
        draw_point_slow(*a);
}

void FX_CALL grDrawLine(const GrVertex* a, const GrVertex* b) {
    if (a && b)
        Board::the().draw_line(*a, *b);
}

void FX_CALL grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
    if (a && b && c)
        Board::the().draw_triangle(*a, *b, *c);
}

/* Writes pixels into a colour buffer, clipped to the screen; FXFALSE for an unknown buffer or
 * format, a missing source, or a board that is not open. */
FxBool FX_CALL grLfbWriteRegion(GrBuffer_t dst_buffer, FxU32 dst_x, FxU32 dst_y,
                                GrLfbSrcFmt_t src_format, FxU32 src_width, FxU32 src_height,
                                FxI32 src_stride, const void* src_data) {
    return Board::the().write_region(dst_buffer, dst_x, dst_y, src_format, src_width, src_height,
                                     src_stride, src_data)
               ? FXTRUE
               : FXFALSE;
}

/* ---- textures ----------------------------------------------------------------------------- */

/* Fills the header and mem_required of a 3DF file; FXFALSE for a missing, damaged or
 * truncated file. */
FxBool FX_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info) {
    if (!info)
        return FXFALSE;
    auto texture = load_3df(filename);
    if (!texture)
        return FXFALSE;
    info->header = texture->header;
    info->mem_required = FxU32(texture->texels.size());
    return FXTRUE;
}

/* Fills header, palette and data; FXFALSE for a missing, damaged or truncated file, a missing
 * data area, or a file that now needs more bytes than info->mem_required offers. */
FxBool FX_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info) {
    if (!info || !info->data)
        return FXFALSE;
    auto texture = load_3df(filename);
    if (!texture || texture->texels.size() > info->mem_required)
        return FXFALSE;
    info->header = texture->header;
    info->mem_required = FxU32(texture->texels.size());
    if (board::format_by_code(texture->header.format)->palette)
        std::memcpy(info->table.palette.data, texture->palette.data(),
                    sizeof info->table.palette.data);
    std::memcpy(info->data, texture->texels.data(), texture->texels.size());
    return FXTRUE;
}

/* Reserves texture memory; GR_NULL_MIPMAP_HANDLE when the board is not open, the texture is
 * described wrongly, or the memory is used up. */
GrMipMapId_t FX_CALL guTexAllocateMemory(GrChipID_t tmu, FxU8 odd_even_mask, int width, int height,
                                         GrTextureFormat_t format, GrMipMapMode_t mipmap_mode,
                                         GrLOD_t small_lod, GrLOD_t large_lod,
                                         GrAspectRatio_t aspect, GrTextureClampMode_t s_clamp,
                                         GrTextureClampMode_t t_clamp, GrTextureFilterMode_t minify,
                                         GrTextureFilterMode_t magnify, float lod_bias,
                                         FxBool trilinear) {
    if (!Board::the().is_open())
        return GR_NULL_MIPMAP_HANDLE;
    board::TextureRequest r{tmu,    width,   height,  format, mipmap_mode, small_lod, large_lod,
                            aspect, s_clamp, t_clamp, minify, magnify,     lod_bias};
    return Board::the().textures().allocate(r);
}

/* Decodes every level of the texture from src (largest first); table is the palette of p8
 * and ap88 textures. */
FxBool FX_CALL guTexDownloadMipMap(GrMipMapId_t id, const void* src, const GuNccTable* table) {
    if (!Board::the().is_open())
        return FXFALSE;
    return Board::the().textures().download(id, src, reinterpret_cast<const GuTexTable*>(table))
               ? FXTRUE
               : FXFALSE;
}

/* ---- extensions --------------------------------------------------------------------------- */

/* Gamma of each channel from now on; 0.0 keeps a channel's curve. Reported to observers. */
FxBool FX_CALL grGammaCorrectionKVX(FxFloat red, FxFloat green, FxFloat blue) {
    platform::Event event;
    event.kind = platform::EventKind::Gamma;
    event.gamma[0] = red;
    event.gamma[1] = green;
    event.gamma[2] = blue;
    platform::emit(event);
    Board::the().set_gamma(red, green, blue);
    return FXTRUE;
}

/* The TV record, in force at once. Reported to observers. */
FxBool FX_CALL grSetTVOperationKVX(const FxI32* settings) {
    if (!settings)
        return FXFALSE;
    board::TvRecord record;
    std::memcpy(record.data(), settings, sizeof(record));
    platform::Event event;
    event.kind = platform::EventKind::Tv;
    std::memcpy(event.tv, record.data(), sizeof event.tv);
    platform::emit(event);
    Board::the().set_tv(record);
    return FXTRUE;
}

} // extern "C"

#include "engine/FrameBitmap.h"

void TFrameBitmap::Resize(int width, int height) {
    if (width == FWidth && height == FHeight) return;
    if (width <= 0 || height <= 0) {
        FWidth = FHeight = FStride = 0;
        FPixels.clear();
        return;
    }
    FWidth = width;
    FHeight = height;
    FStride = StrideFor(width);
    // The scaler's vector code converts whole blocks of pixels and writes past the end of a
    // row whose width is not a multiple of the block; the last row's spill lands here.
    constexpr std::size_t kScalerSpill = 64 * 4;
    FPixels.assign(std::size_t(FStride) * std::size_t(height) + kScalerSpill, 0);
}

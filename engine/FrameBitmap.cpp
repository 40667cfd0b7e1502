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
    FPixels.assign(std::size_t(FStride) * std::size_t(height), 0);
}

#pragma once
// A 24-bit picture handed to frame hooks and previews: blue-green-red bytes, top row first,
// rows Stride bytes apart (each row padded to a multiple of four bytes).
#include <cstdint>
#include <vector>

class TFrameBitmap {
public:
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Stride() const { return FStride; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }

    // Keeps the buffer when the size is unchanged; a new size gives a black picture.
    void Resize(int width, int height);

    std::uint8_t* Bits() { return FPixels.data(); }
    const std::uint8_t* Bits() const { return FPixels.data(); }
    std::uint8_t* Row(int y) { return FPixels.data() + std::size_t(y) * std::size_t(FStride); }
    const std::uint8_t* Row(int y) const { return FPixels.data() + std::size_t(y) * std::size_t(FStride); }

    static int StrideFor(int width) { return (width * 3 + 3) & ~3; }

private:
    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    std::vector<std::uint8_t> FPixels;
};

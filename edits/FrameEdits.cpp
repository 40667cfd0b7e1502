#include "edits/FrameEdits.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/FFmpegVCL.h"

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Round half to even, the rounding every table uses.
inline int RoundEven(double v) { return int(std::nearbyint(v)); }

enum TStep { stText, stImage, stEffects };

// The order of the three steps for the two "process" flags: what comes before the effects
// is recoloured by them.
std::array<TStep, 3> StepOrder(bool processText, bool processImage) {
    if (processText && !processImage) return {stText, stEffects, stImage};
    if (!processText && processImage) return {stImage, stEffects, stText};
    if (processText && processImage) return {stText, stImage, stEffects};
    return {stEffects, stText, stImage};
}

}  // namespace

TColorTables MakeColorTables(int brightness, int contrast, int saturation) {
    TColorTables t;
    int c = contrast == 100 ? 99 : contrast;
    // The two constants differ on purpose: with the six-decimal one the factor at -100 is a
    // hair below zero, not zero, so every value lands next to the pivot and rounds onto it.
    const double k = c > 0 ? 1.0 / std::cos(c * 0.015707963267948966) : std::cos(c * 0.015708);
    for (int i = 0; i < 256; ++i) t.CT[i] = Clamp255(RoundEven((i - 170) * k + 170));
    for (int j = 0; j < 256; ++j) {
        const int v = Clamp255((256 - brightness + brightness * j) / 256);
        t.BT[j] = t.CT[v];
    }
    for (int k2 = 0; k2 < 256; ++k2) t.ST[k2] = ((k2 + 1) * saturation) >> 8;
    for (int l = 0; l < 256; ++l) t.GT[3 * l] = t.GT[3 * l + 1] = t.GT[3 * l + 2] = l - t.ST[l];
    return t;
}

std::array<uint8_t, 256> MakeExposureTable(double exposure) {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        const int64_t e = RoundEven((1.0 - std::exp((i / -128.0) * (exposure / 128.0))) * 256.0);
        int64_t v = exposure >= 0 ? i + ((e * (255 - i)) >> 8) : i - (((-e) * (255 - i)) >> 8);
        t[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return t;
}

TColorPass::TColorPass(const TColorTables& t, const std::array<uint8_t, 256>* exposure) : FTable(256 * 256) {
    // GT is the same for the three sums that share a third, so the result of a channel
    // depends only on that third and the channel's own value.
    for (int s = 0; s < 768; ++s) FThird[s] = uint8_t(s / 3);
    for (int l = 0; l < 256; ++l)
        for (int c = 0; c < 256; ++c) {
            const int b = t.BT[Clamp255(t.GT[3 * l] + t.ST[c])];
            FTable[size_t(l) * 256 + size_t(c)] = exposure ? (*exposure)[b] : uint8_t(b);
        }
}

void TColorPass::Run(TFrameBitmap& bitmap) const {
    const int w = bitmap.Width(), h = bitmap.Height();
    const uint8_t* table = FTable.data();
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < w; ++x, p += 3) {
            const uint8_t* row = table + size_t(FThird[p[0] + p[1] + p[2]]) * 256;
            p[0] = row[p[0]];
            p[1] = row[p[1]];
            p[2] = row[p[2]];
        }
    }
}

void AdjustColors(TFrameBitmap& bitmap, const TColorTables& t) { TColorPass(t, nullptr).Run(bitmap); }

void AdjustColors(TFrameBitmap& bitmap, int brightness, int contrast, int saturation) {
    AdjustColors(bitmap, MakeColorTables(brightness, contrast, saturation));
}

void AdjustExposure(TFrameBitmap& bitmap, const std::array<uint8_t, 256>& table) {
    const int w = bitmap.Width(), h = bitmap.Height();
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < 3 * w; ++x) p[x] = table[p[x]];
    }
}

void AdjustExposure(TFrameBitmap& bitmap, double exposure) { AdjustExposure(bitmap, MakeExposureTable(exposure)); }

void BlendImage(TFrameBitmap& frame, const TFrameBitmap& image, int x, int style, int opacity, int y) {
    const int fw = frame.Width(), fh = frame.Height();
    // In 64 bits: a position near the end of the int range must not wrap round into the frame.
    const int64_t x64 = x, y64 = y;
    if (x64 >= fw || y64 >= fh || x64 + image.Width() <= 0 || y64 + image.Height() <= 0) return;
    const int h = int(y64 + image.Height() < fh ? image.Height() : fh - y64);
    const int w = int(x64 + image.Width() < fw ? image.Width() : fw - x64);
    // Points left of or above the frame are dropped, as a pixel setter would drop them.
    const int i0 = int(std::max<int64_t>(0, -x64)), j0 = int(std::max<int64_t>(0, -y64));
    if (w <= i0 || h <= j0) return;
    const int a = opacity;
    for (int j = j0; j < h; ++j) {
        uint8_t* f = frame.Row(y + j) + 3 * (x + i0);
        const uint8_t* s = image.Row(j) + 3 * i0;
        const int n = 3 * (w - i0);
        if (style == 1) {
            for (int k = 0; k < n; ++k) f[k] = uint8_t(((256 - a) * f[k] + a * s[k]) >> 8);
        } else {
            for (int k = 0; k < n; ++k) f[k] = uint8_t(f[k] * s[k] / 255);
        }
    }
}

void DrawText(TFrameBitmap& frame, const std::string& text, const TJobFont& font, int x, int y) {
    if (frame.Empty() || text.empty()) return;
    // Text that starts past the frame's right or bottom edge shows nothing (and the baseline
    // below must not overflow).
    if (x >= frame.Width() || y >= frame.Height() || x < -frame.Width() * 64 || y < -frame.Height() * 64) return;
    QImage image(frame.Bits(), frame.Width(), frame.Height(), frame.Stride(), QImage::Format_BGR888);
    QFont f(QString::fromStdString(font.Name));
    // A font size in points on a 96 dpi canvas, as the desktop has always measured it.
    f.setPixelSize(std::max(1, (font.Size * 96 + 36) / 72));
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    f.setUnderline(font.Underline);
    f.setStrikeOut(font.StrikeOut);
    QPainter painter(&image);
    painter.setFont(f);
    painter.setPen(QColor(QRgb(font.Color)));
    painter.setBrush(Qt::NoBrush);
    const QFontMetrics metrics(f, &image);
    painter.drawText(x, y + metrics.ascent(), QString::fromStdString(text));
}

bool LoadWatermarkImage(const std::string& path, TFrameBitmap& into) {
    // Read as bytes by name: a path that is not UTF-8 would not come back from a QString.
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QImage image;
    if (path.empty() || !in.is_open() || !image.loadFromData(QByteArray::fromStdString(bytes), "BMP")) return false;
    image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull()) return false;
    into.Resize(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) std::memcpy(into.Row(y), image.constScanLine(y), size_t(image.width()) * 3);
    return true;
}

std::string WatermarkImageError(const std::string& path) {
    return "The watermark image " + path + " cannot be read as a BMP picture.";
}

bool HasColorEffects(const TlvFilesRecord& job) {
    return job.Brightness != 255 || job.Contrast != 0 || job.Saturation != 255;
}

bool HasFrameEdits(const TlvFilesRecord& job) {
    return HasColorEffects(job) || job.Exposure != 0 || !job.WatermarkText.empty() || !job.WatermarkImage.empty();
}

// ---------------------------------------------------------------- one job, prepared

TFrameEdits::TFrameEdits(const TlvFilesRecord& job) : FJob(job), FHasEdits(HasFrameEdits(job)) {
    if (job.Exposure != 0) FExposureTable = MakeExposureTable(job.Exposure);
    // Both routines at once: the exposure table applied to the colour routine's result.
    if (HasColorEffects(job))
        FColorPass.emplace(MakeColorTables(job.Brightness, job.Contrast, job.Saturation),
                           job.Exposure != 0 ? &FExposureTable : nullptr);
    if (!job.WatermarkImage.empty()) FImageLoaded = LoadWatermarkImage(job.WatermarkImage, FImage);
}

void TFrameEdits::DrawImage(TFrameBitmap& frame) const {
    BlendImage(frame, FImage, FJob.ImageLeft, FJob.TransparentStyle, FJob.ImageAlpha, FJob.ImageTop);
}

void TFrameEdits::DrawEffects(TFrameBitmap& frame) const {
    if (FColorPass) FColorPass->Run(frame);
    else if (FJob.Exposure != 0) AdjustExposure(frame, FExposureTable);
}

void TFrameEdits::Draw(TFrameBitmap& frame) const {
    if (!FHasEdits || frame.Empty()) return;
    // Raised before anything is drawn: a frame whose picture cannot be laid stays untouched.
    if (!FJob.WatermarkImage.empty() && !FImageLoaded)
        throw std::runtime_error(WatermarkImageError(FJob.WatermarkImage));
    for (TStep step : StepOrder(FJob.ProcessText, FJob.ProcessImage)) {
        switch (step) {
        case stText:
            if (!FJob.WatermarkText.empty()) DrawText(frame, FJob.WatermarkText, FJob.WatermarkFont, FJob.TextLeft, FJob.TextTop);
            break;
        case stImage:
            if (!FJob.WatermarkImage.empty()) DrawImage(frame);
            break;
        case stEffects:
            DrawEffects(frame);
            break;
        }
    }
}

void DrawFrameEdits(TFrameBitmap& frame, const TlvFilesRecord& job) { TFrameEdits(job).Draw(frame); }

// ---------------------------------------------------------------- a run's jobs

void TRunFrameEdits::Hook(THookInfo& info, const TlvFilesRecord& job) {
    std::shared_ptr<const TFrameEdits> edits;
    {
        std::lock_guard lock(FLock);
        auto& slot = FByTask[info.TaskIndex];
        // A task index of an earlier run, or a record changed since, gets its edits anew.
        if (!slot || !(slot->Job() == job)) slot = std::make_shared<const TFrameEdits>(job);
        edits = slot;
    }
    if (edits->Empty()) {
        info.Update = false;
        info.StopHook = true;  // never asked again for this task: nothing to keep for it
        std::lock_guard lock(FLock);
        FByTask.erase(info.TaskIndex);
        return;
    }
    if (info.Bitmap) edits->Draw(*info.Bitmap);
}

void TRunFrameEdits::Clear() {
    std::lock_guard lock(FLock);
    FByTask.clear();
}

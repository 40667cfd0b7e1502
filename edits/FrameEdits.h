#pragma once
// Drawing a job's text, image and colour effects on one 24-bit frame, in place: the
// conversion hook and the previews of the edit dialogs all go through DrawFrameEdits.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "edits/JobRecord.h"
#include "engine/FrameBitmap.h"

struct THookInfo;

// The four tables of the colour routine, exposed so that they can be checked one by one.
struct TColorTables {
    std::array<int, 256> CT{};  // contrast, around 170
    std::array<int, 256> BT{};  // brightness, then contrast
    std::array<int, 256> ST{};  // saturation share of one channel
    std::array<int, 768> GT{};  // grey base, indexed by the sum of the three channels
};
TColorTables MakeColorTables(int brightness, int contrast, int saturation);
std::array<uint8_t, 256> MakeExposureTable(double exposure);

// The colour routine as one walk over the pixels: a table of every channel result by the
// third of the pixel's channel sum and the channel's value, with the clamp and the
// brightness-contrast table folded in. An exposure table given here is folded in after it,
// which gives the pixels of the colour routine followed by the exposure routine.
class TColorPass {
public:
    TColorPass(const TColorTables& tables, const std::array<uint8_t, 256>* exposure);
    void Run(TFrameBitmap& bitmap) const;

private:
    std::array<uint8_t, 768> FThird{};
    std::vector<uint8_t> FTable;
};

void AdjustColors(TFrameBitmap& bitmap, int brightness, int contrast, int saturation);
void AdjustColors(TFrameBitmap& bitmap, const TColorTables& tables);
void AdjustExposure(TFrameBitmap& bitmap, double exposure);
void AdjustExposure(TFrameBitmap& bitmap, const std::array<uint8_t, 256>& table);
// Lays image on frame with its top-left corner at (x, y), never scaled, cut at the frame's
// edges. Style 1 mixes by opacity (0..255), any other style multiplies.
void BlendImage(TFrameBitmap& frame, const TFrameBitmap& image, int x, int style, int opacity, int y);
// Writes text once, top-left anchored at (x, y), in one line, without a background box.
void DrawText(TFrameBitmap& frame, const std::string& text, const TJobFont& font, int x, int y);
// A BMP file as a 24-bit picture; false when it cannot be read as one.
bool LoadWatermarkImage(const std::string& path, TFrameBitmap& into);
// What a job whose watermark picture cannot be read is told: the text names the picture.
std::string WatermarkImageError(const std::string& path);

bool HasColorEffects(const TlvFilesRecord& job);
// Text, image or any effect that changes pixels: a job without them can leave its frames alone.
bool HasFrameEdits(const TlvFilesRecord& job);

// Everything one job draws during a run, prepared once: the record's values, the watermark
// picture read from disk and the effect tables. Drawing gives the same pixels as
// DrawFrameEdits with the record.
class TFrameEdits {
public:
    explicit TFrameEdits(const TlvFilesRecord& job);
    bool Empty() const { return !FHasEdits; }
    const TlvFilesRecord& Job() const { return FJob; }
    // Throws when the watermark picture could not be read (the frame is then left as it
    // was by the engine, which catches what a hook raises).
    void Draw(TFrameBitmap& frame) const;

private:
    void DrawImage(TFrameBitmap& frame) const;
    void DrawEffects(TFrameBitmap& frame) const;

    TlvFilesRecord FJob;
    bool FHasEdits = false;
    std::array<uint8_t, 256> FExposureTable{};
    std::optional<TColorPass> FColorPass;
    TFrameBitmap FImage;
    bool FImageLoaded = false;
};

// One frame, the record's values taken as they are (the picture is read from disk on
// every call): what the dialogs' previews use.
void DrawFrameEdits(TFrameBitmap& frame, const TlvFilesRecord& job);

// The drawing state of the jobs of one conversion run, one TFrameEdits per task, made at
// its first frame. Hook() is the whole body of a conversion hook: a job without edits stops
// the hook at its first frame and leaves the frame untouched, so its frames are never turned
// into BGR and back.
class TRunFrameEdits {
public:
    void Hook(THookInfo& info, const TlvFilesRecord& job);
    // Forgets the tasks of the last run (a task whose record differs from the one it was
    // prepared for is prepared again anyway); call at every run start.
    void Clear();

private:
    std::mutex FLock;
    std::map<int, std::shared_ptr<const TFrameEdits>> FByTask;
};

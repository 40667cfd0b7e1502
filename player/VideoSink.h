#pragma once
// Where the player's finished pictures go. The player decodes, times and converts pictures
// itself; a sink only paints what it is handed, on whatever surface it owns.
#include <cmath>
#include <memory>

#include "engine/FrameBitmap.h"

struct TShownPicture {
    std::shared_ptr<const TFrameBitmap> Picture;  // blue-green-red, the video's own size
    double Aspect = 0;      // display shape width / height; 0 or less fills the surface
    double Pts = 0;         // seconds from the start of the input
    double AudioClock = 0;  // the sound's clock when the picture is handed over (seconds)
    bool HasAudio = false;  // whether AudioClock means anything
};

class VideoSink {
public:
    virtual ~VideoSink() = default;
    // Called on the player's display thread when a picture is due; keep the pointer, not
    // the thread.
    virtual void ShowPicture(const TShownPicture& shown) = 0;
    // The playback ended: the surface goes back to its background.
    virtual void ClearPicture() {}
    // The surface's size in pixels, used when the player is not told a size of its own.
    virtual int SurfaceWidth() const { return 0; }
    virtual int SurfaceHeight() const { return 0; }
    // A number naming the surface in messages (a window id); 0 when there is none.
    virtual unsigned long SurfaceHandle() const { return 0; }
};

struct TPictureRect {
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// The rectangle a picture of the given shape takes on a surface: full height and the width
// the shape asks for, or full width when that is too wide; both even, centred.
inline TPictureRect PictureRect(int surfaceWidth, int surfaceHeight, double aspect) {
    TPictureRect r{0, 0, surfaceWidth, surfaceHeight};
    if (aspect <= 0 || surfaceWidth <= 0 || surfaceHeight <= 0) return r;
    r.Height = surfaceHeight;
    r.Width = int(std::lround(surfaceHeight * aspect)) & ~1;
    if (r.Width > surfaceWidth) {
        r.Width = surfaceWidth;
        r.Height = int(std::lround(surfaceWidth / aspect)) & ~1;
    }
    r.X = (surfaceWidth - r.Width) / 2;
    r.Y = (surfaceHeight - r.Height) / 2;
    return r;
}

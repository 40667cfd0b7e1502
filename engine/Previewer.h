#pragma once
// The preview window of a conversion task: shows the frame being encoded. The window itself
// belongs to the desktop program (it needs widgets); the engine reaches it through this
// interface and a factory the program installs. Every call happens on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/FrameBitmap.h"

class TPreviewer {
public:
    virtual ~TPreviewer() = default;
    // Shows the frame, sized to it, titled with PreviewTitle(pts).
    virtual void ShowFrame(const TFrameBitmap& bitmap, int64_t pts) = 0;
    // True once the user closed the window; the task then stops sending frames.
    virtual bool Closed() const = 0;
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;
// Without a factory (a program without windows) no preview window is shown.
void SetPreviewerFactory(TPreviewerFactory factory);
std::unique_ptr<TPreviewer> MakePreviewer();

// "hh:mm:ss.zzz" of a microsecond time, "N/A" for the no-timestamp value.
std::string PreviewTitle(int64_t pts);

#include "engine/Previewer.h"

#include <limits>
#include <mutex>

#include "engine/FFUtils.h"

namespace {
std::mutex gFactoryLock;
TPreviewerFactory gFactory;
}  // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
    std::lock_guard lock(gFactoryLock);
    gFactory = std::move(factory);
}

std::unique_ptr<TPreviewer> MakePreviewer() {
    TPreviewerFactory factory;
    {
        std::lock_guard lock(gFactoryLock);
        factory = gFactory;
    }
    return factory ? factory() : nullptr;
}

std::string PreviewTitle(int64_t pts) {
    if (pts == std::numeric_limits<int64_t>::min()) return "N/A";
    const int64_t ms = pts / 1000;
    return Format("%.2d:%.2d:%.2d.%.3d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
}

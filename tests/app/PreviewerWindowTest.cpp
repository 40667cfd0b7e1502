// The preview window a conversion task opens when Preview is set.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <thread>

#include "app/PreviewerWindow.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegVCL.h"
#include "tests/app/AppTestSupport.h"

using namespace apptest;

TEST(PreviewerWindow, ShowsTheFrameSizedToItAndTitledWithItsTime) {
    App();
    TPreviewerWindow window;
    TFrameBitmap bitmap;
    bitmap.Resize(64, 48);
    bitmap.Row(0)[0] = 255;  // blue of the top-left pixel
    window.ShowFrame(bitmap, 3723004000);  // 1 h 2 min 3.004 s
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(64, 48));
    EXPECT_EQ(window.windowTitle(), "01:02:03.004");
    EXPECT_EQ(window.Frame().pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    window.ShowFrame(bitmap, NoTimestamp);
    EXPECT_EQ(window.windowTitle(), "N/A");

    EXPECT_FALSE(window.Closed());
    window.close();
    EXPECT_TRUE(window.Closed());
}

TEST(PreviewerWindow, ATaskWithPreviewOpensOneAndClosingItStopsTheFrames) {
    App();
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    testsupport::TempDir dir;
    testsupport::MakeClip(dir.file("clip.avi"), 1, {"-c:v", "mpeg4", "-c:a", "mp2"});
    std::vector<TPreviewerWindow*> made;
    SetPreviewerFactory([&] {
        auto w = std::make_unique<TPreviewerWindow>();
        made.push_back(w.get());
        return w;
    });
    TFFmpegVCL vcl;
    vcl.SetPreview(true);
    int task = vcl.AddTask(dir.file("clip.avi"));
    ASSERT_GE(task, 0) << vcl.LastError();
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.AudioDisable = true;
    o.CustomHook = true;
    vcl.OnCustomHook = [](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // long enough for several previews
    };
    ASSERT_TRUE(vcl.SetOutputFile(task, dir.file("out.avi"), &o)) << vcl.LastError();
    std::atomic<bool> ended{false};
    vcl.OnTerminate = [&](TCustomFFmpegVCL*, const TTerminateInfo& t) {
        if (t.TaskIndex == -1) ended = true;
    };
    vcl.StartTask(1);
    WaitServing([&] { return !made.empty() || ended.load(); }, 5);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->size(), QSize(320, 240));
    made[0]->close();
    WaitServing([&] { return ended.load(); }, 5);
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(vcl.Task(0)->PreviewMask & 1, 0);
    vcl.ClearTasks();
    SetPreviewerFactory(nullptr);
}

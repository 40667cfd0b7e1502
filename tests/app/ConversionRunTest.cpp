#include <gtest/gtest.h>

#include <sched.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QImage>
#include <QTest>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "app/JobList.h"
#include "app/WinMain.h"
#include "app/WinProgress.h"
#include "formats/ui/FormatListBox.h"
#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"

using testsupport::ProbeValue;
namespace fs = std::filesystem;

namespace {

struct TConversionRunTest : ::testing::Test, apptest::TMainWindowFixture {
    TConversionRunTest() : OutDir(home.Path() + "/reelshift") {}

    TfrmMain& W() { return Window(); }
    TJobListView& List() { return *W().JobList(); }
    std::string Source(const std::string& name, double seconds = 1.0) {
        const std::string path = dir.file(name);
        fs::copy_file(apptest::Clip("clip.mp4", seconds), path, fs::copy_options::overwrite_existing);
        return path;
    }
    void Add(std::initializer_list<std::string> paths) {
        QStringList list;
        for (const auto& p : paths) list << QString::fromStdString(p);
        ASSERT_EQ(W().AddFiles(list), int(list.size()));
    }
    void PickAvi() {
        TFormatListBox* formats = W().FormatList();
        formats->PickRow(formats->Catalogue().FindRow("AVI - Audio-Video-Interleaved(*.avi)"));
    }
    // Presses Start and waits until the end of the run has been handled.
    void Start() {
        QTest::mouseClick(W().findChild<QPushButton*>("btnStart"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !W().Running(); }, 20000));
    }
    QString Progress(int row) { return List().Row(row)->text(TJobRow::colProgress); }
    TfrmProgress* ProgressWindow() { return &W().ProgressWindow(); }
    QLabel* Label(const char* name) { return ProgressWindow()->findChild<QLabel*>(name); }

    // Calls fn once, on the main thread, from inside the first preview event of the run,
    // while the worker waits for it: the first task is then certainly under way.
    void OnFirstPreview(std::function<void()> fn) {
        auto original = W().CCAVC().OnPreviewBitmap;
        auto done = std::make_shared<bool>(false);
        W().CCAVC().OnPreviewBitmap = [original, fn, done](TCustomFFmpegVCL* sender, const TPreviewInfo& info) {
            original(sender, info);
            if (!*done) {
                *done = true;
                fn();
            }
        };
    }

    std::vector<std::string> OutputFiles() const {
        std::vector<std::string> files;
        if (fs::is_directory(OutDir))
            for (const auto& e : fs::directory_iterator(OutDir)) files.push_back(e.path().filename().string());
        std::sort(files.begin(), files.end());
        return files;
    }

    std::string OutDir;
};

}  // namespace

TEST_F(TConversionRunTest, WithoutACheckedRowStartOnlyWarns) {
    Add({Source("a.mp4")});
    List().Row(0)->SetChecked(false);
    QTest::mouseClick(W().findChild<QPushButton*>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    EXPECT_EQ(boxes.Shown[0].Text, "Please select a file by clicking the check box!");
    EXPECT_EQ(W().CCAVC().TaskCount(), 0);
    EXPECT_FALSE(W().Running());
}

TEST_F(TConversionRunTest, TwoClipsToAviBothReachAHundredAndTheFilesHavePictureAndSound) {
    PickAvi();
    // The second name is not UTF-8 (Latin-1 "twé"): given through Qt, as a dialog gives it,
    // it has lost its last byte and is found again; it shows as U+FFFD and writes its bytes.
    const std::string latin1 = Source("tw\xe9.mp4");
    ASSERT_NO_FATAL_FAILURE(Add({Source("one.mp4"), latin1}));
    EXPECT_EQ(W().JobRecord(1)->SourceFile, latin1);
    EXPECT_EQ(List().Row(1)->text(TJobRow::colSource), QString::fromStdString(dir.file("tw")) + QChar(0xFFFD) + ".mp4");
    // The list names the files the run writes.
    EXPECT_EQ(List().Row(0)->text(TJobRow::colDestination), "one_(new).avi");
    EXPECT_EQ(List().Row(1)->text(TJobRow::colDestination), QString("tw") + QChar(0xFFFD) + "_(new).avi");
    bool shown = false;
    apptest::WhenModal<TfrmProgress>([&](TfrmProgress*) { shown = true; });
    Start();
    EXPECT_TRUE(shown);
    // Those names are taken now: a next run would write the numbered ones.
    EXPECT_EQ(List().Row(0)->text(TJobRow::colDestination), "one_(new_1).avi");
    EXPECT_FALSE(ProgressWindow()->isVisible());
    EXPECT_EQ(Progress(0), "100%");
    EXPECT_EQ(Progress(1), "100%");
    EXPECT_EQ(W().TaskMap(), (std::vector<int>{0, 1}));
    EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"one_(new).avi", "tw\xe9_(new).avi"}));
    for (const char* name : {"one_(new).avi", "tw\xe9_(new).avi"}) {
        const std::string file = OutDir + "/" + name;
        EXPECT_EQ(ProbeValue(file, "format=format_name"), "avi");
        EXPECT_EQ(ProbeValue(file, "stream=codec_type"), "video\naudio") << name;
    }
    // The run is over: the window takes the next one, and the output folder was opened.
    EXPECT_TRUE(W().findChild<QPushButton*>("btnStart")->isEnabled());
    EXPECT_EQ(W().CCAVC().TaskCount(), 0);
    ASSERT_EQ(urls.Opened.size(), 1u);
    EXPECT_EQ(urls.Opened[0].toLocalFile().toStdString(), OutDir);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(TConversionRunTest, AnUncheckedRowIsLeftOutAndTheTaskMapSkipsIt) {
    PickAvi();
    Add({Source("a.mp4"), Source("b.mp4"), Source("c.mp4")});
    List().Row(1)->SetChecked(false);
    std::set<QString> places;
    std::vector<int> rowsOfEvents;
    bool jobsOfTasks = true;
    auto original = W().CCAVC().OnProgress;
    W().CCAVC().OnProgress = [&, original](TCustomFFmpegVCL* sender, PProgressInfo info) {
        original(sender, info);
        places.insert(Label("lblProgress")->text());
        rowsOfEvents.push_back(W().TaskMap().at(size_t(info->TaskIndex)));
        jobsOfTasks = jobsOfTasks && W().TaskJob(0) == W().JobRecord(0) && W().TaskJob(1) == W().JobRecord(2) &&
                      W().TaskJob(2) == nullptr;
    };
    Start();
    EXPECT_TRUE(jobsOfTasks);
    EXPECT_EQ(W().TaskJob(0), nullptr);  // the run is over
    EXPECT_EQ(W().TaskMap(), (std::vector<int>{0, 2}));
    EXPECT_TRUE(places.count("[1/2]"));
    EXPECT_TRUE(places.count("[2/2]"));
    EXPECT_FALSE(rowsOfEvents.empty());
    for (int row : rowsOfEvents) EXPECT_NE(row, 1);
    EXPECT_EQ(Progress(0), "100%");
    EXPECT_EQ(Progress(1), "");
    EXPECT_EQ(Progress(2), "100%");
    EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"a_(new).avi", "c_(new).avi"}));
}

TEST_F(TConversionRunTest, FramesPassTheHookUntouchedAfterTheFirst) {
    PickAvi();
    Add({Source("a.mp4")});
    std::atomic<int> calls{0};
    std::atomic<bool> passed{false};
    auto original = W().CCAVC().OnCustomHook;
    W().CCAVC().OnCustomHook = [&, original](TCustomFFmpegVCL* sender, PHookInfo info) {
        original(sender, info);
        ++calls;
        passed = info->StopHook && !info->Update && info->FrameNumber == 1;
    };
    Start();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(passed);
    EXPECT_EQ(Progress(0), "100%");
}

TEST_F(TConversionRunTest, PriorityZeroRunsTheWorkerIdleAndSevenLeavesItAsItWas) {
    PickAvi();
    Add({Source("a.mp4")});
    std::atomic<int> policy{-1};
    auto original = W().CCAVC().OnCustomHook;
    W().CCAVC().OnCustomHook = [&, original](TCustomFFmpegVCL* sender, PHookInfo info) {
        policy = ::sched_getscheduler(0);  // the calling thread's own
        original(sender, info);
    };
    IniFile(SettingsPath).WriteInteger("settings", "priority", 0);
    Start();
    EXPECT_EQ(W().CCAVC().ThreadPriority(), tpIdle);
    EXPECT_EQ(policy, SCHED_IDLE);

    IniFile(SettingsPath).WriteInteger("settings", "priority", 7);
    Start();
    EXPECT_EQ(W().CCAVC().ThreadPriority(), tpIdle);

    IniFile(SettingsPath).WriteInteger("settings", "priority", 3);
    Start();
    EXPECT_EQ(W().CCAVC().ThreadPriority(), tpLowest);
    EXPECT_EQ(policy, SCHED_OTHER);
}

TEST_F(TConversionRunTest, CancelDuringTheFirstOfTwoTasksKeepsTheRowsAndLeavesTheWindowUsable) {
    apptest::TPowerRecorder power;
    PickAvi();
    Add({Source("a.mp4", 2.0), Source("b.mp4", 2.0)});
    List().Row(0)->setText(TJobRow::colProgress, "7%");
    List().Row(1)->setText(TJobRow::colProgress, "42%");  // what an earlier run left
    OnFirstPreview([&] {
        ProgressWindow()->findChild<QCheckBox*>("ckShutDown")->setChecked(true);
        QTest::mouseClick(ProgressWindow()->findChild<QPushButton*>("btnPause"), Qt::LeftButton);
        EXPECT_FALSE(ProgressWindow()->findChild<QPushButton*>("btnPause")->isEnabled());
        EXPECT_TRUE(ProgressWindow()->findChild<QPushButton*>("btnResume")->isEnabled());
        QTimer::singleShot(0, ProgressWindow()->findChild<QPushButton*>("btnCancel"), &QPushButton::click);
    });
    Start();
    EXPECT_FALSE(ProgressWindow()->isVisible());
    // The file cut short is gone, and its row says so; the row that never ran is as it was.
    EXPECT_EQ(Progress(0), "Cancelled");
    EXPECT_EQ(Progress(1), "42%");
    EXPECT_TRUE(urls.Opened.empty());  // no end actions after a cancelled run
    EXPECT_EQ(power.Requests, 0);
    EXPECT_EQ(OutputFiles(), std::vector<std::string>{});

    // The window is usable at once: the next run converts both.
    for (const char* name : {"btnStart", "btnOpen", "btnBrows"})
        EXPECT_TRUE(W().findChild<QPushButton*>(name)->isEnabled()) << name;
    ProgressWindow()->findChild<QCheckBox*>("ckShutDown")->setChecked(false);
    W().CCAVC().OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) { W().CCAVCPreviewBitmap(s, i); };
    Start();
    EXPECT_EQ(Progress(0), "100%");
    EXPECT_EQ(Progress(1), "100%");
    EXPECT_FALSE(ProgressWindow()->findChild<QCheckBox*>("ckShutDown")->isChecked());
}

TEST_F(TConversionRunTest, StopOfTheMainWindowEndsTheRunAndTheEndRestoresTheButtons) {
    PickAvi();
    Add({Source("a.mp4", 2.0), Source("b.mp4", 2.0)});
    auto* stop = W().findChild<QPushButton*>("btnStop");
    bool stateSeen = false;
    OnFirstPreview([&] {
        EXPECT_TRUE(stop->isEnabled());
        QTimer::singleShot(0, stop, [&, stop] {
            stop->click();
            for (const char* name : {"btnStop", "btnStart", "btnPause", "btnResume"})
                EXPECT_FALSE(W().findChild<QPushButton*>(name)->isEnabled()) << name;
            for (const char* name : {"btnRemove", "btnClear", "mnuRemove", "mnuClear", "mnuStart"})
                EXPECT_FALSE(W().findChild<QAction*>(name)->isEnabled()) << name;
            EXPECT_TRUE(W().findChild<QAction*>("btnAdd")->isEnabled());
            stateSeen = true;
        });
    });
    Start();
    EXPECT_TRUE(stateSeen);
    EXPECT_NE(Progress(0), "100%");
    EXPECT_FALSE(ProgressWindow()->isVisible());
    EXPECT_FALSE(stop->isEnabled());
    for (const char* name : {"btnStart"}) EXPECT_TRUE(W().findChild<QPushButton*>(name)->isEnabled()) << name;
    for (const char* name : {"btnAdd", "btnRemove", "btnClear", "btnStartTool"})
        EXPECT_TRUE(W().findChild<QAction*>(name)->isEnabled()) << name;
}

TEST_F(TConversionRunTest, ClosingTheMainWindowDuringARunStopsItAndWaits) {
    PickAvi();
    Add({Source("a.mp4", 2.0), Source("b.mp4", 2.0)});
    OnFirstPreview([&] { QTimer::singleShot(0, &W(), &QWidget::close); });
    Start();
    EXPECT_FALSE(W().isVisible());
    EXPECT_EQ(W().Global(), nullptr);
    EXPECT_FALSE(ProgressWindow()->isVisible());
    EXPECT_NE(Progress(0), "100%");
    EXPECT_EQ(W().CCAVC().TaskCount(), 0);
    EXPECT_FALSE(fs::exists(OutDir + "/b_(new).avi"));
}

TEST_F(TConversionRunTest, TheEndActionsFollowTheRunWhenItsLastTaskFailsAndARefusedShutDownIsShown) {
    apptest::TPowerRecorder power;
    power.Refusal = "Interactive authentication required.";
    PickAvi();
    Add({Source("a.mp4"), Source("b.mp4")});
    // The last task fails: its watermark goes missing while the first one converts.
    const std::string logo = dir.file("logo.bmp");
    ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB888).save(QString::fromStdString(logo), "BMP"));
    W().JobRecord(1)->WatermarkImage = logo;
    OnFirstPreview([&] {
        ProgressWindow()->findChild<QCheckBox*>("ckShutDown")->setChecked(true);
        fs::remove(logo);
    });
    Start();
    EXPECT_EQ(Progress(0), "100%");
    EXPECT_NE(Progress(1), "100%");
    EXPECT_EQ(power.Requests, 1);
    EXPECT_EQ(urls.Opened.size(), 1u);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_TRUE(boxes.Shown[0].Text.contains("The computer could not be shut down: Interactive authentication required."))
        << boxes.Shown[0].Text.toStdString();
}

TEST_F(TConversionRunTest, AGoneSourceOrAnUnreadableWatermarkFailsOnlyItsJobWithOneMessageAndTheOthersConvert) {
    PickAvi();
    const std::string gone = Source("gone.mp4");
    Add({gone, Source("kept.mp4"), Source("marked.mp4"), Source("late.mp4"), Source("also.mp4")});
    fs::remove(gone);
    // A watermark that is no picture, and one that goes missing once the run has started.
    const std::string notPicture = dir.file("notes.bmp"), goes = dir.file("logo.bmp");
    testsupport::WriteFile(notPicture, "not a picture");
    ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB888).save(QString::fromStdString(goes), "BMP"));
    W().JobRecord(2)->WatermarkImage = notPicture;
    W().JobRecord(3)->WatermarkImage = goes;
    OnFirstPreview([&] { fs::remove(goes); });
    Start();
    EXPECT_EQ(W().TaskMap(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(Progress(0), "");
    EXPECT_EQ(Progress(1), "100%");
    EXPECT_NE(Progress(2), "100%");
    EXPECT_NE(Progress(3), "100%");
    EXPECT_EQ(Progress(4), "100%");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    const std::string told = boxes.Shown[0].Text.toStdString();
    EXPECT_NE(told.find(gone), std::string::npos) << told;
    EXPECT_NE(told.find(dir.file("marked.mp4") + ": The watermark image " + notPicture), std::string::npos) << told;
    EXPECT_NE(told.find(dir.file("late.mp4") + ": The watermark image " + goes), std::string::npos) << told;
    EXPECT_EQ(told.find("kept.mp4"), std::string::npos) << told;
    EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"also_(new).avi", "kept_(new).avi"}));
    // The last task that ran counts as the last of the run.
    EXPECT_EQ(urls.Opened.size(), 1u);
}

TEST_F(TConversionRunTest, WhenNoCheckedSourceCanBeOpenedOrWrittenNothingRunsAndTheMessageSaysWhy) {
    PickAvi();
    const std::string gone = Source("gone.mp4");
    // A name the file system takes for the source but not with "_(new).avi" added.
    const std::string longName = Source(std::string(248, 'n') + ".mp4");
    Add({gone, longName});
    fs::remove(gone);
    QTest::mouseClick(W().findChild<QPushButton*>("btnStart"), Qt::LeftButton);
    EXPECT_FALSE(W().Running());
    EXPECT_FALSE(ProgressWindow()->isVisible());
    ASSERT_EQ(boxes.Shown.size(), 1u);
    const std::string told = boxes.Shown[0].Text.toStdString();
    EXPECT_NE(told.find(gone), std::string::npos) << told;
    EXPECT_NE(told.find(longName + ": " + OutDir + "/" + std::string(248, 'n') + "_(new).avi: "), std::string::npos)
        << told;
    EXPECT_EQ(told.find("At least one output file must be specified"), std::string::npos) << told;
}

TEST_F(TConversionRunTest, AltSStartsTheRun) {
    PickAvi();
    Add({Source("a.mp4")});
    QTest::keyClick(&W(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W().Running() && Progress(0) == "100%"; }, 20000));
    EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"a_(new).avi"}));
}

TEST_F(TConversionRunTest, ProgressReportsFillTheRowOfTheTaskAndTheProgressWindow) {
    PickAvi();
    Add({Source("a.mp4"), Source("b.mp4"), Source("c.mp4")});
    List().Row(1)->SetChecked(false);
    Start();  // leaves the task map [0, 2] and the progress window behind
    ProgressWindow()->show();
    TProgressInfo p;
    p.TaskIndex = 1;
    p.CurrentDuration = 30500000;
    p.TotalDuration = 61000000;
    p.CurrentSize = 1234567;
    p.FPS = 48;
    W().CCAVCProgress(&W().CCAVC(), &p);
    EXPECT_EQ(Progress(2), "50%");
    EXPECT_EQ(Progress(1), "");
    EXPECT_EQ(ProgressWindow()->findChild<QProgressBar*>("pbProgress")->value(), 50);
    EXPECT_EQ(Label("lblCurrentTime")->text(), "30 Second");
    EXPECT_EQ(Label("lblLength")->text(), "61 Second");
    EXPECT_EQ(Label("lblFileSize")->text(), "1234 kb");
    EXPECT_EQ(Label("lblSpeed")->text(), "48 fps");
    EXPECT_EQ(Label("lblFile")->text(), List().Row(2)->text(0));

    // Without a total: how long it has run, and a busy bar.
    p.TotalDuration = -1;
    W().CCAVCProgress(&W().CCAVC(), &p);
    EXPECT_TRUE(Progress(2).startsWith("0:00:0")) << Progress(2).toStdString();
    EXPECT_EQ(ProgressWindow()->findChild<QProgressBar*>("pbProgress")->maximum(), 0);
    EXPECT_EQ(Label("lblLength")->text(), "Unknown");
    EXPECT_EQ(Label("lblTimeLeft")->text(), "Unknown");

    // A record of a task the run does not have changes nothing.
    p.TaskIndex = 5;
    W().CCAVCProgress(&W().CCAVC(), &p);
    ProgressWindow()->hide();
}

TEST_F(TConversionRunTest, APreviewFrameIsCopiedInPictureOrder) {
    W();
    TFrameBitmap bitmap;
    bitmap.Resize(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t* p = bitmap.Row(y) + x * 3;
            p[0] = 0x30;  // blue
            p[1] = 0x20;  // green
            p[2] = uint8_t(y == 0 ? 0xF0 : 0x10);  // red: the top row is red
        }
    TPreviewInfo info;
    info.TaskIndex = 0;
    info.Bitmap = &bitmap;
    W().CCAVCPreviewBitmap(&W().CCAVC(), info);
    bitmap.Resize(8, 8);  // the engine reuses its bitmap at once
    ASSERT_EQ(W().PreviewBitmap().size(), QSize(4, 2));
    EXPECT_EQ(W().PreviewBitmap().pixel(0, 0) & 0xFFFFFF, 0xF02030u);
    EXPECT_EQ(W().PreviewBitmap().pixel(3, 1) & 0xFFFFFF, 0x102030u);

    TFrameBitmap empty;
    info.Bitmap = &empty;
    W().CCAVCPreviewBitmap(&W().CCAVC(), info);
    EXPECT_EQ(W().PreviewBitmap().size(), QSize(4, 2));  // an empty frame is not taken
}

namespace {
// The mean grey level of a file's first picture, decoded by the ffmpeg program.
double MeanGreyOfFirstPicture(const std::string& file) {
    const auto r = testsupport::Run(
        {"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (r.out.empty()) return 0;
    double sum = 0;
    for (unsigned char c : r.out) sum += c;
    return sum / double(r.out.size());
}
}  // namespace

TEST_F(TConversionRunTest, AJobsTrimAndEffectsReachItsFile) {
    PickAvi();
    Add({Source("edited.mp4", 2.0), Source("plain.mp4", 2.0)});
    // Both trimmed alike, so that their first pictures show the same moment of the source.
    for (int row : {0, 1}) {
        W().JobRecord(row)->TrimStart = 500'000;
        W().JobRecord(row)->TrimLength = 1'000'000;
    }
    W().JobRecord(0)->Brightness = 100;  // a darker picture; 255 leaves it
    Start();
    const std::string edited = OutDir + "/edited_(new).avi", plain = OutDir + "/plain_(new).avi";
    for (const std::string& file : {edited, plain})
        EXPECT_NEAR(std::stod(ProbeValue(file, "format=duration")), 1.0, 0.15) << file;
    EXPECT_LT(MeanGreyOfFirstPicture(edited), MeanGreyOfFirstPicture(plain) - 30);
}

TEST_F(TConversionRunTest, AFailingTaskLeavesNoFileAndItsRowSaysSo) {
    PickAvi();
    Add({Source("a.mp4", 2.0), Source("b.mp4")});
    // A preview handler that throws ends the first task part-way through its file.
    bool seenWhileWriting = false;
    W().CCAVC().OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo& info) {
        if (info.TaskIndex != 0) return;
        seenWhileWriting = OutputFiles() == std::vector<std::string>{".a_(new).avi.reelshift-part"};
        throw std::runtime_error("the picture went wrong");
    };
    Start();
    EXPECT_TRUE(seenWhileWriting);
    EXPECT_EQ(Progress(0), "Failed");
    EXPECT_EQ(Progress(1), "100%");
    EXPECT_EQ(OutputFiles(), std::vector<std::string>{"b_(new).avi"});
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_TRUE(boxes.Shown[0].Text.contains("a.mp4: the picture went wrong")) << boxes.Shown[0].Text.toStdString();
}

namespace {
int OpenDescriptors() {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
    return n;
}
struct TMemorySample {
    int Descriptors = 0;
    long AddressKb = 0, ResidentKb = 0;
    long InUseKb = 0;  // handed out by the allocator and not given back, whatever its arenas keep in reserve
};
TMemorySample SampleNow() {
    TMemorySample m;
    m.Descriptors = OpenDescriptors();
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) pages = resident = 0;
        std::fclose(f);
    }
    const long pageKb = ::sysconf(_SC_PAGESIZE) / 1024;
    m.AddressKb = pages * pageKb;
    m.ResidentKb = resident * pageKb;
    const struct mallinfo2 heap = ::mallinfo2();
    m.InUseKb = long((heap.uordblks + heap.hblkhd) / 1024);
    return m;
}

// A run of many tiny jobs under a descriptor limit far below what jobs holding their files
// while they wait would need: every job converts, and the descriptors and memory sampled at
// each task's end stay flat.
void ManyJobsUnderALowDescriptorLimit(TConversionRunTest& t, int jobs, rlim_t limit) {
    const std::string clip = t.dir.file("tiny.mp4");
    testsupport::MakeClip(clip, 0.2, {"-s", "64x48"});
    QStringList paths;
    for (int i = 0; i < jobs; ++i) {
        const std::string path = t.dir.file(QString("j%1.mp4").arg(i, 4, 10, QChar('0')).toStdString());
        fs::create_hard_link(clip, path);
        paths << QString::fromStdString(path);
    }
    t.PickAvi();
    ASSERT_EQ(t.W().AddFiles(paths), jobs);

    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = std::min(limit, old.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    struct Restore {
        rlimit r;
        ~Restore() { ::setrlimit(RLIMIT_NOFILE, &r); }
    } restore{old};

    std::vector<TMemorySample> samples;  // at each task's end
    auto original = t.W().CCAVC().OnTerminate;
    t.W().CCAVC().OnTerminate = [&, original](TCustomFFmpegVCL* sender, const TTerminateInfo& info) {
        samples.push_back(SampleNow());
        original(sender, info);
    };
    const auto began = std::chrono::steady_clock::now();
    QTest::mouseClick(t.W().findChild<QPushButton*>("btnStart"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !t.W().Running(); }, 60000 + jobs * 500));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    int converted = 0;
    for (int i = 0; i < jobs; ++i) converted += t.Progress(i) == "100%";
    EXPECT_EQ(converted, jobs);
    EXPECT_EQ(t.OutputFiles().size(), size_t(jobs));
    EXPECT_TRUE(t.boxes.Shown.empty());
    ASSERT_GE(samples.size(), size_t(jobs));
    samples.resize(size_t(jobs));  // the all-ended record comes last

    // Each worker's first costs (the libraries' tables, the allocator's arenas) are paid in
    // the first quarter. A sample may fall while the next task holds its contexts, so each
    // quarter is judged by its lowest sample.
    auto lowest = [&](size_t quarter, long TMemorySample::*field) {
        long low = LONG_MAX;
        for (size_t i = quarter * samples.size() / 4; i < (quarter + 1) * samples.size() / 4; ++i)
            low = std::min(low, samples[i].*field);
        return low;
    };
    int fdLow = INT_MAX, fdHigh = 0;
    long kbLow = LONG_MAX, kbHigh = 0;
    for (size_t i = samples.size() / 2; i < samples.size(); ++i) {
        fdLow = std::min(fdLow, samples[i].Descriptors);
        fdHigh = std::max(fdHigh, samples[i].Descriptors);
        kbLow = std::min(kbLow, samples[i].ResidentKb);
        kbHigh = std::max(kbHigh, samples[i].ResidentKb);
    }
    for (size_t i = 0; i < samples.size(); i += std::max<size_t>(1, samples.size() / 10))
        std::printf("  after task %zu: %d descriptors, %ld kB in use, %ld kB resident, %ld kB address space\n", i,
                    samples[i].Descriptors, samples[i].InUseKb, samples[i].ResidentKb, samples[i].AddressKb);
    const long inUseGrowth = lowest(3, &TMemorySample::InUseKb) - lowest(1, &TMemorySample::InUseKb);
    const long addressGrowth = lowest(3, &TMemorySample::AddressKb) - lowest(1, &TMemorySample::AddressKb);
    std::printf("%d jobs, descriptor limit %d: %.1f s; second half: descriptors %d..%d, resident %ld..%ld kB; "
                "second to last quarter: in use %+ld kB, address space %+ld kB\n",
                jobs, int(low.rlim_cur), seconds, fdLow, fdHigh, kbLow, kbHigh, inUseGrowth, addressGrowth);
    EXPECT_LE(fdHigh - fdLow, 4);
    // Half the run apart: anything a task keeps after its end shows here (a kept picture,
    // a record per task, waiting jobs' contexts given back late).
    EXPECT_LT(inUseGrowth, 3 * 1024);
    // A worker thread that is never joined keeps its 8 MB stack; one new arena of the
    // allocator (64 MB) is allowed for.
    EXPECT_LT(addressGrowth, 96 * 1024);
    // The arenas grow in steps of up to ~20 MB when a stage thread meets a new one; only
    // growth well past that counts here.
    EXPECT_LT(kbHigh - kbLow, 48 * 1024);
}
}  // namespace

TEST_F(TConversionRunTest, SixtyJobsConvertWithFewDescriptorsToSpare) {
    // Room for what the program holds already and a task at a time, not for 60 waiting jobs.
    ManyJobsUnderALowDescriptorLimit(*this, 60, rlim_t(OpenDescriptors() + 40));
}

// Opt-in (--gtest_also_run_disabled_tests): a few minutes.
TEST_F(TConversionRunTest, DISABLED_TwoThousandJobsConvertUnderADescriptorLimitOf256) {
    const char* n = std::getenv("RS_MANY_JOBS");
    ManyJobsUnderALowDescriptorLimit(*this, n ? std::atoi(n) : 2000, 256);
}

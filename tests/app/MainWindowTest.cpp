#include "app/WinMain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QUrl>

#include "formats/ui/FormatListBox.h"
#include "platform/IniFile.h"
#include "platform/qt/Shell.h"
#include "skin/Skin.h"
#include "tests/app/AppTestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct TMainWindowTest : ::testing::Test {
    TMainWindowTest() { apptest::App(); }

    TGlobalObject Global() {
        TGlobalObject g = EditionGlobalObject();
        g.SetSettingsFile(SettingsPath);
        return g;
    }
    std::unique_ptr<TfrmMain> Open() {
        auto w = std::make_unique<TfrmMain>(Global());
        w->show();
        return w;
    }
    IniFile Settings() const { return IniFile(SettingsPath); }

    apptest::TScratchHome home;
    TempDir dir;
    std::string SettingsPath = dir.file("zantomp4aviconverter.ini");
    apptest::TRecordedBoxes boxes;
};

// Counts how often a widget is hidden.
class THideCounter : public QObject {
public:
    int Hides = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Hide) ++Hides;
        return false;
    }
};

}  // namespace

TEST_F(TMainWindowTest, WithoutASettingsFileStartsWithDefaultsAndStoresTheFolderAtOnce) {
    auto w = Open();
    EXPECT_EQ(skin::CurrentSkin(), 0);
    EXPECT_EQ(w->findChild<QLineEdit*>("edtOutputDir")->text().toStdString(), home.Path() + "/reelshift");
    // Code 1 names no format of this edition: the first one is chosen and remembered.
    EXPECT_EQ(w->CurrentFormatCode(), "0");
    EXPECT_EQ(w->CurrentFormatName(), "AVI - Audio-Video-Interleaved(*.avi)");
    auto* volume = w->findChild<QSlider*>("trcVolume");
    EXPECT_EQ(volume->minimum(), 0);
    EXPECT_EQ(volume->maximum(), 128);
    EXPECT_EQ(volume->value(), 0);
    EXPECT_FALSE(w->findChild<QCheckBox*>("ckMute")->isChecked());
    EXPECT_EQ(ReadFile(SettingsPath), "[settings]\nOutPutDir=" + home.Path() +
                                          "/reelshift\nFormatCode=0\nFormatName=AVI - Audio-Video-Interleaved(*.avi)\n");
    EXPECT_EQ(w->size(), QSize(786, 522));
    EXPECT_EQ(w->windowTitle(), "Zanto MP4 to AVI Converter 3.300 ");
    EXPECT_EQ(ApplicationTitle(), "Zanto MP4 to AVI Converter");
}

TEST_F(TMainWindowTest, StoredValuesAreShownAndAVolumeOutOfRangeShows64) {
    WriteFile(SettingsPath, "[Settings]\nvolume=200\nMUTE=1\noutputdir=/srv/films\nFormatCode=104\nOutPutFormat=3\n");
    auto w = Open();
    EXPECT_EQ(w->findChild<QSlider*>("trcVolume")->value(), 64);
    EXPECT_TRUE(w->findChild<QCheckBox*>("ckMute")->isChecked());
    EXPECT_EQ(w->findChild<QLineEdit*>("edtOutputDir")->text(), "/srv/films");
    EXPECT_EQ(w->CurrentFormatCode(), "104");
    auto* legacy = w->findChild<QComboBox*>("cbOutputFormat");
    EXPECT_FALSE(legacy->isVisible());
    EXPECT_EQ(legacy->currentIndex(), 3);
    // The settings file was not rewritten by reading it.
    EXPECT_EQ(IniFile(SettingsPath).ReadInteger("settings", "volume", 0), 200);
}

TEST_F(TMainWindowTest, ChoosingOrangeStoresTwoAndChoosingItAgainDoesNothing) {
    auto w = Open();
    auto* menu = w->findChild<QMenu*>("mnuSkin");
    auto* orange = w->findChild<QAction*>("mnuSkin2");
    ASSERT_TRUE(menu && orange);
    emit menu->aboutToShow();
    EXPECT_TRUE(w->findChild<QAction*>("mnuSkin0")->isChecked());

    THideCounter counter;
    w->installEventFilter(&counter);
    orange->trigger();
    EXPECT_EQ(Settings().ReadInteger("settings", "skinIndex", -1), 2);
    EXPECT_EQ(skin::CurrentSkin(), 2);
    EXPECT_EQ(counter.Hides, 1);
    EXPECT_TRUE(w->isVisible());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(w->findChild<QAction*>(QString("mnuSkin%1").arg(i))->isChecked(), i == 2);

    const std::string before = ReadFile(SettingsPath);
    emit menu->aboutToShow();
    orange->trigger();
    EXPECT_EQ(counter.Hides, 1);
    EXPECT_TRUE(orange->isChecked());
    EXPECT_EQ(ReadFile(SettingsPath), before);
    skin::ApplySkin(0);
}

TEST_F(TMainWindowTest, AStoredSkinOutOfRangeKeepsTheLookAndChecksNoEntry) {
    skin::ApplySkin(5);
    WriteFile(SettingsPath, "[settings]\nskinIndex=9\n");
    auto w = Open();
    EXPECT_EQ(skin::CurrentSkin(), 5);
    emit w->findChild<QMenu*>("mnuSkin")->aboutToShow();
    for (int i = 0; i < 7; ++i) EXPECT_FALSE(w->findChild<QAction*>(QString("mnuSkin%1").arg(i))->isChecked());
    skin::ApplySkin(0);
}

TEST_F(TMainWindowTest, AnsweringNoToTheExitQuestionKeepsTheWindow) {
    auto w = Open();
    boxes.Answer = false;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(boxes.Asked.size(), 1u);
    EXPECT_EQ(boxes.Asked[0].Caption, "Warning");
    EXPECT_EQ(boxes.Asked[0].Text, "Do you really want to exit?");
    EXPECT_NE(w->Global(), nullptr);
    EXPECT_FALSE(Settings().SectionExists("lstformat"));

    boxes.Answer = true;
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->Global(), nullptr);
    // The collapse state of every category is kept for the next start.
    EXPECT_EQ(Settings().ReadSectionKeys("lstformat").size(),
              CatalogueCategories(CompiledEdition()).size());
}

TEST_F(TMainWindowTest, ClosingForAnUpdateAsksNothing) {
    auto w = Open();
    w->CloseForUpdate();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(boxes.Asked.empty());
}

TEST_F(TMainWindowTest, AnOutputFolderThatCannotBeMadeWarnsAndTheBoxShowsTheFallback) {
    WriteFile(dir.file("file"), "x");
    WriteFile(SettingsPath, "[settings]\nOutPutDir=" + dir.file("file") + "/out\n");
    auto w = Open();
    const std::string out = w->RunOutputFile("/src/clip.mp4");
    EXPECT_EQ(out, home.Path() + "/reelshift/clip_(new).mp4");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(w->findChild<QLineEdit*>("edtOutputDir")->text().toStdString(), home.Path() + "/reelshift");
    EXPECT_EQ(Settings().ReadString("settings", "OutPutDir", ""), home.Path() + "/reelshift");
}

TEST_F(TMainWindowTest, WebEntriesOpenOnlyTheirAddresses) {
    std::vector<QUrl> opened;
    shell::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    auto w = Open();
    w->findChild<QAction*>("mnuHelp")->trigger();
    w->findChild<QAction*>("mnuWebSite")->trigger();
    auto* related = w->findChild<QMenu*>("mnuRelated");
    ASSERT_FALSE(related->actions().isEmpty());
    related->actions().first()->trigger();
    shell::SetUrlOpener({});
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].toString().toStdString(), w->Global()->HelpAddress());
    EXPECT_EQ(opened[1].toString().toStdString(), w->Global()->WebSiteAddress());
    EXPECT_TRUE(opened[2].toString().endsWith("?Zanto MP4 to AVI Converter") ||
                opened[2].toString(QUrl::FullyDecoded).endsWith("?Zanto MP4 to AVI Converter"))
        << opened[2].toString().toStdString();
    // Windows that later work brings are there but cannot be used yet.
    EXPECT_TRUE(w->findChild<QAction*>("mnuAbout")->isEnabled());
}

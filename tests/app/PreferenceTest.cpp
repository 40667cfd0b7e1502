#include "app/WinPreference.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <filesystem>

#include "app/Directory.h"
#include "app/WinMain.h"
#include "platform/IniFile.h"
#include "platform/qt/FileSystems.h"
#include "tests/app/AppTestSupport.h"

using testsupport::ReadFile;
namespace fs = std::filesystem;

namespace {

struct TPreferenceTest : ::testing::Test, apptest::TMainWindowFixture {
    // Preferences shown without a modal loop, so the test can press its buttons.
    TfrmPreference& Open() {
        prefs = &Window().Preferences();
        prefs->show();
        return *prefs;
    }
    template <typename T>
    T* Child(const char* name) {
        return prefs->findChild<T*>(name);
    }
    bool Checked(const char* name) { return Child<QAbstractButton>(name)->isChecked(); }
    // A click where a person aims: on the box or the start of the text.
    void Click(const char* name) {
        QAbstractButton* button = Child<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    IniFile Settings() const { return IniFile(SettingsPath); }
    // Answers the next folder chooser by picking folder and pressing Ok, or Cancel when empty.
    void ChooseNext(const std::string& folder) {
        apptest::WhenModal<TfrmDirectory>([folder](TfrmDirectory* chooser) {
            if (folder.empty()) {
                chooser->btnCancelClick();
                return;
            }
            EXPECT_TRUE(chooser->SelectFolder(folder));
            chooser->btnOkClick();
        });
    }

    TfrmPreference* prefs = nullptr;
};

}  // namespace

TEST_F(TPreferenceTest, ShowingReadsTheStoredChoices) {
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", "/srv/snaps");
    IniFile(SettingsPath).WriteInteger("settings", "snapSmallSize", 0);
    IniFile(SettingsPath).WriteInteger("settings", "snapJpg", 0);
    IniFile(SettingsPath).WriteInteger("settings", "jpgCmp", 55);
    IniFile(SettingsPath).WriteInteger("settings", "priority", 3);
    TfrmPreference& p = Open();
    EXPECT_EQ(p.windowTitle(), "Preference");
    EXPECT_EQ(p.size(), QSize(480, 390));
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text(), "/srv/snaps");
    EXPECT_TRUE(Checked("ckFullSize"));
    EXPECT_FALSE(Checked("ckSmallSize"));
    EXPECT_TRUE(Checked("ckBmp"));
    EXPECT_FALSE(Checked("ckJpg"));
    EXPECT_FALSE(Child<QSpinBox>("spnJpgQuality")->isEnabled());
    EXPECT_FALSE(Child<QSlider>("trcJpgQuality")->isEnabled());
    EXPECT_EQ(Child<QSpinBox>("spnJpgQuality")->value(), 55);
    EXPECT_EQ(Child<QSlider>("trcJpgQuality")->value(), 55);
    EXPECT_EQ(Child<QSlider>("trcJpgQuality")->tickInterval(), 10);
    EXPECT_TRUE(Checked("rbPriority3"));
}

TEST_F(TPreferenceTest, WithoutASettingsFileEverythingIsChosenAndTheFolderIsTheDefault) {
    Open();
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text().toStdString(), home.Path() + "/reelshift");
    for (const char* name : {"ckFullSize", "ckSmallSize", "ckBmp", "ckJpg", "rbPriority1"})
        EXPECT_TRUE(Checked(name)) << name;
    EXPECT_EQ(Child<QSpinBox>("spnJpgQuality")->value(), 30);
    EXPECT_TRUE(Child<QSpinBox>("spnJpgQuality")->isEnabled());
}

TEST_F(TPreferenceTest, EachPairKeepsOneChoiceAndJpgSwitchesTheQualityControls) {
    Open();
    Click("ckFullSize");
    EXPECT_FALSE(Checked("ckFullSize"));
    Click("ckSmallSize");  // the only one left: stays checked
    EXPECT_TRUE(Checked("ckSmallSize"));
    Click("ckFullSize");
    Click("ckSmallSize");
    EXPECT_FALSE(Checked("ckSmallSize"));
    EXPECT_TRUE(Checked("ckFullSize"));

    Click("ckJpg");
    EXPECT_FALSE(Checked("ckJpg"));
    EXPECT_FALSE(Child<QSpinBox>("spnJpgQuality")->isEnabled());
    Click("ckBmp");
    EXPECT_TRUE(Checked("ckBmp"));
    Click("ckJpg");
    EXPECT_TRUE(Child<QSpinBox>("spnJpgQuality")->isEnabled());
    Click("ckBmp");
    Click("ckJpg");  // now the only one: stays checked, the quality stays usable
    EXPECT_TRUE(Checked("ckJpg"));
    EXPECT_TRUE(Child<QSlider>("trcJpgQuality")->isEnabled());
}

TEST_F(TPreferenceTest, TheQualitySpinBoxAndTrackBarFollowEachOther) {
    Open();
    Child<QSpinBox>("spnJpgQuality")->setValue(77);
    EXPECT_EQ(Child<QSlider>("trcJpgQuality")->value(), 77);
    Child<QSlider>("trcJpgQuality")->setValue(12);
    EXPECT_EQ(Child<QSpinBox>("spnJpgQuality")->value(), 12);
    Child<QSpinBox>("spnJpgQuality")->setValue(500);
    EXPECT_EQ(Child<QSlider>("trcJpgQuality")->value(), 100);
}

TEST_F(TPreferenceTest, DefaultThenCancelStoresNothingAndDefaultThenOkStoresTheDefaults) {
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", "/srv/snaps");
    Window();
    const std::string before = ReadFile(SettingsPath);
    Open();
    Click("btnDefault");
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text().toStdString(), home.Path() + "/reelshift");
    EXPECT_TRUE(Checked("ckBmp"));
    EXPECT_FALSE(Checked("ckJpg"));
    EXPECT_TRUE(Checked("ckFullSize"));
    EXPECT_FALSE(Checked("ckSmallSize"));
    EXPECT_TRUE(Checked("rbPriority1"));
    EXPECT_EQ(Child<QSpinBox>("spnJpgQuality")->value(), 20);
    EXPECT_FALSE(Child<QSpinBox>("spnJpgQuality")->isEnabled());
    Click("btnCancel");
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(ReadFile(SettingsPath), before);

    Open();
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text(), "/srv/snaps");  // shown afresh from the file
    Click("btnDefault");
    Click("btnOk");
    EXPECT_FALSE(prefs->isVisible());
    const IniFile s = Settings();
    EXPECT_EQ(s.ReadString("settings", "snapOutPutDir", ""), home.Path() + "/reelshift");
    EXPECT_EQ(s.ReadInteger("settings", "snapBmp", -1), 1);
    EXPECT_EQ(s.ReadInteger("settings", "snapJpg", -1), 0);
    EXPECT_EQ(s.ReadInteger("settings", "snapFullSize", -1), 1);
    EXPECT_EQ(s.ReadInteger("settings", "snapSmallSize", -1), 0);
    EXPECT_EQ(s.ReadInteger("settings", "jpgCmp", -1), 20);
    EXPECT_EQ(s.ReadInteger("settings", "priority", -1), 1);
}

TEST_F(TPreferenceTest, APriorityThatNamesNoItemSelectsNoneAndOkStoresMinusOne) {
    IniFile(SettingsPath).WriteInteger("settings", "priority", 7);
    Open();
    for (const char* name : {"rbPriority0", "rbPriority1", "rbPriority2", "rbPriority3"})
        EXPECT_FALSE(Checked(name)) << name;
    Click("btnOk");
    EXPECT_EQ(Settings().ReadInteger("settings", "priority", 0), -1);

    Open();
    Click("rbPriority0");
    EXPECT_TRUE(Checked("rbPriority0"));
    Click("btnOk");
    EXPECT_EQ(Settings().ReadInteger("settings", "priority", -5), 0);
}

TEST_F(TPreferenceTest, BrowsStoresTheChosenFolderAtOnceAndCancelKeepsIt) {
    const std::string chosen = dir.path().string();
    Open();
    ChooseNext(chosen);
    Click("btnBrows");
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text().toStdString(), chosen);
    EXPECT_EQ(Settings().ReadString("settings", "SnapOutPutDir", ""), chosen);
    Click("btnCancel");
    EXPECT_EQ(Settings().ReadString("settings", "SnapOutPutDir", ""), chosen);

    // A cancelled chooser changes nothing.
    Open();
    ChooseNext("");
    Click("btnBrows");
    EXPECT_EQ(Child<QLineEdit>("edtSnapDir")->text().toStdString(), chosen);
}

TEST_F(TPreferenceTest, OpenShowsTheStoredSnapshotFolderOnlyWhenTheBoxHoldsMoreThanTwoCharacters) {
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", dir.path().string());
    Open();
    Click("btnOpen");
    ASSERT_EQ(urls.Opened.size(), 1u);
    EXPECT_EQ(urls.Opened[0].toLocalFile().toStdString(), dir.path().string());
    Child<QLineEdit>("edtSnapDir")->setText("/a");
    Click("btnOpen");
    EXPECT_EQ(urls.Opened.size(), 1u);
}

TEST_F(TPreferenceTest, TheToolsMenuOpensPreferences) {
    bool seen = false;
    apptest::WhenModal<TfrmPreference>([&](TfrmPreference* p) {
        seen = true;
        p->btnCancelClick();
    });
    Window().findChild<QAction*>("mnuPreference")->trigger();
    EXPECT_TRUE(seen);
}

// ---------------------------------------------------------------- main window's output folder

TEST_F(TPreferenceTest, TheOutputFolderBoxStoresEveryChangeAndOpenNeedsMoreThanTwoCharacters) {
    auto* box = Window().findChild<QLineEdit*>("edtOutputDir");
    box->setText(QString::fromStdString(dir.path().string()));
    EXPECT_EQ(Settings().ReadString("settings", "OutPutDir", ""), dir.path().string());
    QTest::mouseClick(Window().findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    ASSERT_EQ(urls.Opened.size(), 1u);
    EXPECT_EQ(urls.Opened[0].toLocalFile().toStdString(), dir.path().string());

    box->setText("/a");
    QTest::mouseClick(Window().findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    EXPECT_EQ(urls.Opened.size(), 1u);
}

TEST_F(TPreferenceTest, BrowsOfTheMainWindowStoresTheChosenFolder) {
    const std::string chosen = dir.path().string();
    ChooseNext(chosen);
    QTest::mouseClick(Window().findChild<QPushButton*>("btnBrows"), Qt::LeftButton);
    EXPECT_EQ(Window().findChild<QLineEdit*>("edtOutputDir")->text().toStdString(), chosen);
    EXPECT_EQ(Settings().ReadString("settings", "OutPutDir", ""), chosen);
}

TEST_F(TPreferenceTest, TheChooserRefusesAFolderOnAnOpticalDiscAndStaysOpen) {
    filesystems::SetFileSystemTypeReader([](const std::string& path) {
        return path.find("/disc") != std::string::npos ? "iso9660" : "ext4";
    });
    const std::string disc = dir.file("disc");
    fs::create_directories(disc);
    auto* box = Window().findChild<QLineEdit*>("edtOutputDir");
    const QString before = box->text();

    TfrmDirectory& chooser = Window().FolderChooser();
    bool stayedOpen = false;
    apptest::WhenModal<TfrmDirectory>([&](TfrmDirectory* c) {
        EXPECT_EQ(c->windowTitle(), "Brows");
        EXPECT_EQ(c->size(), QSize(322, 351));
        EXPECT_EQ(c->SelectedFolder(), QDir::homePath().toStdString());  // where it starts
        EXPECT_TRUE(c->findChild<QPushButton*>("btnOk")->isEnabled());
        EXPECT_TRUE(c->SelectFolder(disc));
        c->btnOkClick();
        stayedOpen = c->isVisible();
        EXPECT_EQ(c->ChosenPath(), "");
        c->btnCancelClick();
    });
    QTest::mouseClick(Window().findChild<QPushButton*>("btnBrows"), Qt::LeftButton);
    filesystems::SetFileSystemTypeReader({});
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Output folder cannot be located in CD-ROM.Please select another folder.");
    EXPECT_EQ(boxes.Shown[0].Caption, "Zanto MP4 to AVI Converter");
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Information);
    EXPECT_EQ(box->text(), before);
    EXPECT_EQ(chooser.ChosenPath(), "");
}

TEST(FileSystems, OnlyIso9660AndUdfCountAsOpticalDiscs) {
    for (const char* type : {"iso9660", "UDF", "udf"}) {
        filesystems::SetFileSystemTypeReader([type](const std::string&) { return type; });
        EXPECT_TRUE(filesystems::IsOnOpticalDisc("/media/cd")) << type;
    }
    for (const char* type : {"ext4", "tmpfs", "vfat", ""}) {
        filesystems::SetFileSystemTypeReader([type](const std::string&) { return type; });
        EXPECT_FALSE(filesystems::IsOnOpticalDisc("/home")) << type;
    }
    filesystems::SetFileSystemTypeReader({});
    EXPECT_FALSE(filesystems::FileSystemType("/").empty());
}

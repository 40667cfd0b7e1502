#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/WinMain.h"
#include "formats/Catalogue.h"
#include "formats/ui/FormatListBox.h"
#include "formats/ui/ParameterPanel.h"
#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PanelTestSupport.h"

using paneltest::Pick;
using paneltest::TypeOver;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct TMainPanelTest : ::testing::Test {
    TMainPanelTest() {
        WriteFile(formatPath, paneltest::Definitions);
        WriteFile(settingsPath, "[settings]\nFormatCode=0\nFormatName=" + CatalogueFormatName(CompiledEdition(), 0) +
                                    "\n[lstformat]\n2=0\n[formatInfo0]\niVolume=2\n");
        TGlobalObject g = EditionGlobalObject();
        g.SetSettingsFile(settingsPath);
        g.SetFormatFile(formatPath);
        w = std::make_unique<TfrmMain>(g);
        w->show();
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    QComboBox* Box(const char* name) const { return w->findChild<QComboBox*>(name); }
    std::string Stored(const std::string& section, const std::string& key) const {
        return IniFile(settingsPath).ReadString(section, key, "<none>");
    }

    apptest::TUsesApp app;
    apptest::TScratchHome home;
    apptest::TRecordedBoxes boxes;
    TempDir dir;
    std::string settingsPath = dir.file("zantomp4aviconverter.ini");
    std::string formatPath = dir.file("formats.ini");
    std::unique_ptr<TfrmMain> w;
};

}  // namespace

TEST_F(TMainPanelTest, TheWindowsBoxesFollowThePickedFormat) {
    for (const char* name : {"cmbVideoSize", "cmbVideoEncoder", "cmbVideoBitRate", "cmbFrameRate", "cmbZoom",
                             "cmbSamplerate", "cmbAudioEncoder", "cmbChannel", "cmbAudioBitRate", "cmbVolume"})
        EXPECT_TRUE(Box(name)) << name;
    EXPECT_EQ(w->findChild<QPushButton*>("btnDefault")->text(), "Default");
    EXPECT_EQ(w->ParameterPanel()->FormatCode(), "0");
    EXPECT_EQ(Box("cmbVolume")->currentText(), "110%");
    EXPECT_TRUE(Box("cmbVideoEncoder")->isEnabled());

    TFormatListBox* list = w->FormatList();
    list->PickRow(list->Catalogue().FindRow(CatalogueFormatName(CompiledEdition(), 200)));
    EXPECT_EQ(w->ParameterPanel()->FormatCode(), "200");
    EXPECT_FALSE(Box("cmbVideoEncoder")->isEnabled());
    EXPECT_EQ(Box("cmbAudioBitRate")->currentText(), "128");
    Pick(Box("cmbVolume"), "50%");
    EXPECT_EQ(Stored("formatInfo200", "paraVolume"), "128");
}

TEST_F(TMainPanelTest, OpeningTheFormatListChecksATypedSizeFirst) {
    TypeOver(Box("cmbVideoSize"), "641x480");
    w->FormatList()->ShowList(false);
    QApplication::processEvents();
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Input Error!");
    EXPECT_EQ(Stored("formatInfo0", "paraVideoSize"), "640x480");

    // Plain messages carry the program's title.
    TypeOver(Box("cmbVideoBitRate"), "5");
    QTest::keyClick(Box("cmbVideoBitRate"), Qt::Key_Backspace);
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[1].Caption, ApplicationTitle());
    EXPECT_EQ(boxes.Shown[1].Text, "Video BitRate is not a valid value!");
}

#include "formats/ui/WinSettings.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/WinMain.h"
#include "formats/Catalogue.h"
#include "formats/ui/FormatListBox.h"
#include "formats/ui/ParameterPanel.h"
#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PanelTestSupport.h"

using paneltest::Leave;
using paneltest::Pick;
using paneltest::TypeOver;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string NameOf(int code) { return CatalogueFormatName(CompiledEdition(), code); }

// Picks a format in the dialog's list, opening its category first when needed.
void PickFormat(TfrmSettings& dialog, int code) {
    TFormatListBox* list = dialog.FormatList();
    int row = list->Catalogue().FindRow(NameOf(code));
    if (row < 0) {
        for (const TCatalogueCategory& category : CatalogueCategories(CompiledEdition()))
            if (category.Number == code / 100) list->ToggleRow(list->Catalogue().FindRow(category.Name));
        row = list->Catalogue().FindRow(NameOf(code));
    }
    ASSERT_GE(row, 0);
    list->PickRow(row);
}

struct TSettingsDialogTest : ::testing::Test {
    TSettingsDialogTest() { WriteFile(formatPath, paneltest::Definitions); }

    std::unique_ptr<TfrmMain> Open() {
        TGlobalObject g = EditionGlobalObject();
        g.SetSettingsFile(settingsPath);
        g.SetFormatFile(formatPath);
        auto w = std::make_unique<TfrmMain>(g);
        w->show();
        return w;
    }
    // Opens the dialog from the given action and runs act while it is up; a dialog still
    // open afterwards is cancelled.
    void WithDialog(TfrmMain& w, const char* action, const std::function<void(TfrmSettings&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, &w, [&] {
            auto* dialog = w.findChild<TfrmSettings*>();
            if (!dialog || !dialog->isVisible()) {
                if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
                return;
            }
            ran = true;
            dialog->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
            act(*dialog);
            if (dialog->isVisible()) dialog->btnCancelClick();
        });
        QAction* entry = w.findChild<QAction*>(action);
        ASSERT_TRUE(entry);
        EXPECT_TRUE(entry->isVisible());
        EXPECT_TRUE(entry->isEnabled());
        entry->trigger();
        EXPECT_TRUE(ran);
    }
    static QComboBox* Box(TfrmSettings& d, TParameter p) { return d.Panel()->Box(p); }
    static QComboBox* Box(TfrmMain& w, TParameter p) { return w.ParameterPanel()->Box(p); }
    static void Click(TfrmSettings& d, const char* button) {
        QTest::mouseClick(d.findChild<QPushButton*>(button), Qt::LeftButton);
    }
    std::string Stored(const std::string& section, const std::string& key) const {
        return IniFile(settingsPath).ReadString(section, key, "<none>");
    }

    apptest::TUsesApp app;
    apptest::TScratchHome home;
    apptest::TRecordedBoxes boxes;
    TempDir dir;
    std::string settingsPath = dir.file("zantomp4aviconverter.ini");
    std::string formatPath = dir.file("formats.ini");
};

}  // namespace

TEST_F(TSettingsDialogTest, ChangesThenCancelLeaveTheSettingsFileAsItWas) {
    WriteFile(settingsPath, "; kept as written\n[settings]\nFormatCode=0\nFormatName=" + NameOf(0) +
                                "\n[formatInfo0]\nparaVideoEncoder=mpeg4\niVolume=0\n");
    auto w = Open();
    std::string before;
    WithDialog(*w, "mnuSettings", [&](TfrmSettings& d) {
        before = ReadFile(settingsPath);
        EXPECT_EQ(d.size(), QSize(475, 370));
        EXPECT_EQ(d.findChild<QLineEdit*>("edt1")->text().toStdString(), NameOf(0));
        EXPECT_EQ(Box(d, TParameter::Volume)->currentText(), "50%");
        Pick(Box(d, TParameter::VideoEncoder), "h264");
        TypeOver(Box(d, TParameter::VideoBitRate), "1000");
        Leave(d.findChild<QPushButton*>("btnOk"));
        Click(d, "btnDefault");
        EXPECT_EQ(Box(d, TParameter::Volume)->currentText(), "100%");
        EXPECT_EQ(Box(d, TParameter::VideoBitRate)->currentText(), "1200");
        PickFormat(d, 100);
        EXPECT_EQ(d.CurrentFormatCode(), "100");
        EXPECT_EQ(ReadFile(settingsPath), before);
        Click(d, "btnCancel");
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(ReadFile(settingsPath), before);
    EXPECT_EQ(w->CurrentFormatCode(), "0");
}

TEST_F(TSettingsDialogTest, ATypedBitRateIsStoredAsTypedAndShownAgainUntilTheFormatChanges) {
    WriteFile(settingsPath, "[settings]\nFormatCode=0\nFormatName=" + NameOf(0) + "\n");
    auto w = Open();
    WithDialog(*w, "mnuSettings", [&](TfrmSettings& d) {
        TypeOver(Box(d, TParameter::VideoBitRate), "1000");
        Click(d, "btnOk");
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(Stored("formatInfo0", "iVideoBitRate"), "-1");
    EXPECT_EQ(Stored("formatInfo0", "paraVideoBitRate"), "1000");
    EXPECT_EQ(Stored("formatInfo0", "Description"), NameOf(0));
    EXPECT_EQ(Box(*w, TParameter::VideoBitRate)->currentText(), "1000");

    // The tool button opens the same dialog.
    WithDialog(*w, "btnSettings", [&](TfrmSettings& d) {
        EXPECT_EQ(Box(d, TParameter::VideoBitRate)->currentText(), "1000");
        EXPECT_EQ(Box(d, TParameter::VideoBitRate)->currentIndex(), -1);
        PickFormat(d, 100);
        EXPECT_EQ(Box(d, TParameter::VideoBitRate)->currentText(), "1150");
        PickFormat(d, 0);
        EXPECT_EQ(Box(d, TParameter::VideoBitRate)->currentText(), "");  // index -1: nothing
    });
    EXPECT_EQ(w->findChildren<TfrmSettings*>().size(), 1);
}

TEST_F(TSettingsDialogTest, OkMakesThePickedFormatTheMainWindowsWithTheValuesJustStored) {
    WriteFile(settingsPath, "[settings]\nFormatCode=0\nFormatName=" + NameOf(0) + "\n");
    auto w = Open();
    WithDialog(*w, "mnuSettings", [&](TfrmSettings& d) {
        PickFormat(d, 100);
        Pick(Box(d, TParameter::Volume), "200%");
        // The checks on leaving a box answer at once but store nothing.
        const std::string before = ReadFile(settingsPath);
        TypeOver(Box(d, TParameter::VideoSize), "705x577");
        Leave(d.findChild<QPushButton*>("btnOk"));
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0].Caption, "Input Error!");
        EXPECT_EQ(boxes.Shown[0].Text, "Frame Size must be a multiple of 2.\nThe correct value:704x576");
        EXPECT_EQ(Box(d, TParameter::VideoSize)->currentText(), "704x576");
        QApplication::processEvents();
        EXPECT_TRUE(Box(d, TParameter::VideoSize)->hasFocus());  // back to the box with the message
        TypeOver(Box(d, TParameter::SampleRate), "44");
        Box(d, TParameter::SampleRate)->lineEdit()->setText("");
        Leave(d.findChild<QPushButton*>("btnOk"));
        ASSERT_EQ(boxes.Shown.size(), 2u);
        EXPECT_EQ(boxes.Shown[1].Text, "Audio SampleRate is not a valid value!");
        EXPECT_EQ(Box(d, TParameter::SampleRate)->currentText(), "48000");
        EXPECT_EQ(ReadFile(settingsPath), before);
        Click(d, "btnOk");
    });
    EXPECT_EQ(w->CurrentFormatCode(), "100");
    EXPECT_EQ(w->CurrentFormatName().toStdString(), NameOf(100));
    EXPECT_EQ(w->findChild<QLineEdit*>("edt1")->text().toStdString(), NameOf(100));
    EXPECT_EQ(Stored("settings", "FormatCode"), "100");
    EXPECT_EQ(Stored("settings", "FormatName"), NameOf(100));
    EXPECT_FALSE(IniFile(settingsPath).ReadBool("lstformat", "1", true));  // opened in the dialog
    paneltest::ExpectStored(settingsPath, "formatInfo100",
                            {{"Description", NameOf(100).c_str()}, {"paraVolume", "512"},
                             {"paraVideoSize", "704x576"}, {"iVideoSize", "1"}, {"paraSampleRate", "48000"},
                             {"paraVideoEncoder", "mpeg1video"}, {"paraAudioEncoder", "mp2"}});
    EXPECT_EQ(Stored("formatInfo0", "Description"), "<none>");
    TParameterPanel* panel = w->ParameterPanel();
    EXPECT_EQ(panel->FormatCode(), "100");
    EXPECT_EQ(Box(*w, TParameter::Volume)->currentText(), "200%");
    EXPECT_EQ(Box(*w, TParameter::VideoSize)->currentText(), "704x576");
    EXPECT_EQ(Box(*w, TParameter::SampleRate)->currentText(), "48000");
}

TEST_F(TSettingsDialogTest, NamesTheTablesDoNotKnowLeaveTheirValuesUntouched) {
    WriteFile(settingsPath, "[settings]\nFormatCode=0\nFormatName=" + NameOf(0) +
                                "\n[formatInfo0]\nparaVideoEncoder=mpeg4\nparaAudioEncoder=libmp3lame\n"
                                "paraChannel=2\nparaVolume=256\n");
    auto w = Open();
    WithDialog(*w, "mnuSettings", [&](TfrmSettings& d) {
        Pick(Box(d, TParameter::VideoEncoder), "fancy");
        Pick(Box(d, TParameter::AudioEncoder), "odd");
        Pick(Box(d, TParameter::Channel), "surround");
        Pick(Box(d, TParameter::Volume), "110%");
        Click(d, "btnOk");
    });
    paneltest::ExpectStored(settingsPath, "formatInfo0",
                            {{"paraVideoEncoder", "mpeg4"}, {"paraAudioEncoder", "libmp3lame"},
                             {"paraChannel", "2"}, {"paraVolume", "256"}});
    for (const char* key : {"iVideoEncoder", "iAudioEncoder", "iChannel", "iVolume"})
        EXPECT_EQ(Stored("formatInfo0", key), "2") << key;
    EXPECT_EQ(Stored("formatInfo0", "paraBitExact"), "<none>");  // no H.264 chosen
}

TEST_F(TSettingsDialogTest, OkOnASoundFormatStoresNoVideoValues) {
    WriteFile(settingsPath, "[settings]\nFormatCode=0\nFormatName=" + NameOf(0) +
                                "\n[formatInfo200]\nparaVideoSize=640x480\n");
    auto w = Open();
    WithDialog(*w, "mnuSettings", [&](TfrmSettings& d) {
        PickFormat(d, 200);
        EXPECT_FALSE(Box(d, TParameter::VideoSize)->isEnabled());
        EXPECT_FALSE(d.Panel()->cmbZoom()->isEnabled());
        EXPECT_TRUE(Box(d, TParameter::AudioBitRate)->isEnabled());
        Click(d, "btnDefault");
        Click(d, "btnOk");
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_TRUE(boxes.Shown.empty());
    paneltest::ExpectStored(settingsPath, "formatInfo200",
                            {{"paraVideoSize", "640x480"}, {"iVideoSize", "<none>"}, {"paraVideoEncoder", "<none>"},
                             {"paraAudioBitRate", "128"}, {"paraAudioEncoder", "libmp3lame"}});
    EXPECT_EQ(w->CurrentFormatCode(), "200");
    EXPECT_FALSE(Box(*w, TParameter::VideoEncoder)->isEnabled());
}

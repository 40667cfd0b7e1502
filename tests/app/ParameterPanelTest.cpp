#include "formats/ui/ParameterPanel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PanelTestSupport.h"

using paneltest::Erase;
using paneltest::Leave;
using paneltest::Pick;
using paneltest::TypeOver;
using paneltest::TypeInto;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct TPanelTest : ::testing::Test {
    TPanelTest() {
        WriteFile(formatPath, paneltest::Definitions);
        auto* layout = new QVBoxLayout(&window);
        panel = new TParameterPanel(TParameterPanel::pmAtOnce, &window);
        panel->SetFormatFile(formatPath);
        panel->SetStore(store);
        panel->SetMessages(messages);
        layout->addWidget(panel);
        other = new QPushButton("other", &window);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QComboBox* Box(TParameter p) const { return panel->Box(p); }
    std::string Stored(const std::string& key, const std::string& section = "formatInfo0") const {
        return IniFile(settingsPath).ReadString(section, key, "<none>");
    }
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto& m : messages.Shown) texts.push_back(m.Text);
        return texts;
    }

    apptest::TUsesApp app;
    TempDir dir;
    std::string settingsPath = dir.file("settings.ini");
    std::string formatPath = dir.file("formats.ini");
    TSettingsFileStore store{settingsPath};
    paneltest::TRecordedPanelMessages messages;
    QWidget window;
    TParameterPanel* panel;
    QPushButton* other;
};

}  // namespace

TEST_F(TPanelTest, LoadingShowsTheStoredChoicesAndWritesNothing) {
    const std::string stored =
        "[formatInfo0]\nparaVideoSize=123x456\niVideoEncoder=1\nparaVideoBitRate=768\niVolume=2\n"
        "paraSampleRate=22050\nparaZoom=pan\niChannel=7\n";
    WriteFile(settingsPath, stored);
    panel->Load("0");
    EXPECT_EQ(Box(TParameter::VideoSize)->currentText(), "123x456");  // typed, not an entry
    EXPECT_EQ(Box(TParameter::VideoSize)->currentIndex(), -1);
    EXPECT_EQ(Box(TParameter::VideoEncoder)->currentText(), "h264");
    EXPECT_EQ(Box(TParameter::VideoBitRate)->currentIndex(), 1);
    EXPECT_EQ(Box(TParameter::Volume)->currentText(), "110%");
    EXPECT_EQ(Box(TParameter::SampleRate)->currentIndex(), 0);
    EXPECT_EQ(panel->cmbZoom()->currentText(), "Pan and Scan");
    EXPECT_EQ(Box(TParameter::Channel)->currentIndex(), -1);  // index beyond the list
    // A choice never made shows what a conversion would use: the definition's default.
    EXPECT_EQ(Box(TParameter::AudioBitRate)->currentText(), "128");
    EXPECT_EQ(Box(TParameter::FrameRate)->currentText(), "25");
    // The list is split as written; the drop-down shows every entry.
    EXPECT_EQ(Box(TParameter::VideoEncoder)->count(), 3);
    EXPECT_EQ(Box(TParameter::VideoEncoder)->maxVisibleItems(), 3);
    for (TParameter p : AllParameters()) EXPECT_TRUE(Box(p)->isEnabled());
    EXPECT_EQ(ReadFile(settingsPath), stored);
}

TEST_F(TPanelTest, WithoutAVideoEncoderTheVideoSideIsGreyAndDefaultStoresOnlySound) {
    WriteFile(settingsPath, "[formatInfo200]\nparaVideoSize=640x480\n");
    panel->Load("200");
    for (TParameter p : {TParameter::VideoSize, TParameter::VideoEncoder, TParameter::VideoBitRate,
                         TParameter::FrameRate})
        EXPECT_FALSE(Box(p)->isEnabled());
    EXPECT_FALSE(panel->cmbZoom()->isEnabled());
    for (TParameter p : {TParameter::SampleRate, TParameter::AudioEncoder, TParameter::Channel,
                         TParameter::AudioBitRate, TParameter::Volume})
        EXPECT_TRUE(Box(p)->isEnabled());

    QTest::mouseClick(panel->DefaultButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.Shown.empty());  // the greyed frame size is not checked
    paneltest::ExpectStored(settingsPath, "formatInfo200",
                            {{"paraAudioBitRate", "128"}, {"paraSampleRate", "44100"},
                             {"paraAudioEncoder", "libmp3lame"}, {"paraChannel", "2"}, {"paraVolume", "256"},
                             {"paraVideoSize", "640x480"},  // left as it was
                             {"paraVideoEncoder", "<none>"}, {"paraZoom", "<none>"}});
}

TEST_F(TPanelTest, DefaultSelectsAndStoresEveryDefinitionDefault) {
    WriteFile(settingsPath, "[formatInfo0]\nparaVideoSize=100x100\niVolume=2\nparaZoom=pan\n");
    panel->Load("0");
    QTest::mouseClick(panel->DefaultButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(Box(TParameter::VideoSize)->currentText(), "640x480");
    paneltest::ExpectStored(settingsPath, "formatInfo0",
                            {{"iVideoSize", "2"}, {"paraVideoSize", "640x480"}, {"paraVideoEncoder", "mpeg4"},
                             {"paraFrameRate", "25"}, {"paraVideoBitRate", "1200"}, {"paraZoom", "full"},
                             {"paraAudioEncoder", "libmp3lame"}, {"paraAudioBitRate", "128"},
                             {"paraSampleRate", "44100"}, {"paraChannel", "2"}, {"iVolume", "1"},
                             {"paraVolume", "256"}});
    // A default of "as source" replaces the size stored before.
    std::string definitions = paneltest::Definitions;
    definitions.replace(definitions.find("iVideoSize=2"), 12, "iVideoSize=0");
    WriteFile(formatPath, definitions);
    QTest::mouseClick(panel->DefaultButton(), Qt::LeftButton);
    EXPECT_EQ(Stored("paraVideoSize"), "as source");
    EXPECT_EQ(Stored("iVideoSize"), "0");
}

TEST_F(TPanelTest, AnOddFrameSizeIsCorrectedToEvenNumbersAndStored) {
    panel->Load("0");
    QComboBox* size = Box(TParameter::VideoSize);
    Erase(size);
    TypeInto(size, "321x240");
    EXPECT_EQ(Stored("paraVideoSize"), "<none>");  // nothing before the box is left
    Leave(other);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].Caption, "Input Error!");
    EXPECT_EQ(messages.Shown[0].Text, "Frame Size must be a multiple of 2.\nThe correct value:320x240");
    EXPECT_EQ(size->currentText(), "320x240");
    EXPECT_EQ(Stored("paraVideoSize"), "320x240");

    TypeOver(size, "0x0");
    Leave(other);
    ASSERT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(messages.Shown[1].Text, "Frame Size must be a multiple of 2.\nThe correct value:2x2");
    EXPECT_EQ(size->currentText(), "2x2");
    EXPECT_EQ(Stored("paraVideoSize"), "2x2");
    EXPECT_EQ(Stored("iVideoSize"), "0");  // the typed text was no entry

    // An even size is stored as typed, with its position when it is an entry.
    Erase(size);
    TypeInto(size, "640x480");
    Leave(other);
    EXPECT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(Stored("paraVideoSize"), "640x480");
    EXPECT_EQ(Stored("iVideoSize"), "2");
}

TEST_F(TPanelTest, ASizeThatIsNoSizeIsRefusedAndTheSecondEntryTakesItsPlace) {
    // A stored size that is no size is not shown: the format's default stands in, noted.
    WriteFile(settingsPath, "[formatInfo0]\nparaVideoSize=-320x240\n");
    QStringList notes;
    panel->OnNote = [&](const QString& line) { notes << line; };
    panel->Load("0");
    QComboBox* size = Box(TParameter::VideoSize);
    EXPECT_EQ(size->currentText(), "640x480");
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains("\"-320x240\"")) << notes[0].toStdString();

    // Pasted (keys cannot make them): three parts, a sign, hexadecimal, beyond the encoders.
    const char* pasted[] = {"720x480x576", "-320x240", "0x140x240", "20000x240"};
    for (const char* text : pasted) {
        WriteFile(settingsPath, "[formatInfo0]\nparaVideoSize=640x480\n");
        messages.Shown.clear();
        size->setFocus(Qt::TabFocusReason);
        size->setEditText(text);
        Leave(other);
        EXPECT_EQ(Texts(), std::vector<QString>{"Frame Size is not a valid value!"}) << text;
        EXPECT_EQ(size->currentText(), "320x240") << text;
        EXPECT_EQ(Stored("paraVideoSize"), "320x240") << text;  // the entry that took its place
    }

    size->setFocus(Qt::TabFocusReason);
    size->setEditText("as source please");
    Leave(other);
    EXPECT_EQ(messages.Shown.size(), 1u);  // "as source" anywhere: nothing to check
    EXPECT_EQ(Stored("paraVideoSize"), "320x240");

    // Picking from the list stores the entry without a check.
    Pick(size, "as source");
    EXPECT_EQ(Stored("paraVideoSize"), "as source");
    EXPECT_EQ(Stored("iVideoSize"), "0");
}

TEST_F(TPanelTest, KeyFiltersDropWrongKeysWithABeep) {
    panel->Load("0");
    QComboBox* size = Box(TParameter::VideoSize);
    Erase(size);
    TypeInto(size, "a");  // the first key of an empty box is not looked at
    EXPECT_EQ(size->currentText(), "a");
    Erase(size);
    TypeInto(size, "64x0x4a8");
    EXPECT_EQ(size->currentText(), "64x048");
    EXPECT_EQ(messages.Beeps, 2);
    EXPECT_TRUE(messages.Shown.empty());  // the size box only beeps

    QComboBox* rate = Box(TParameter::VideoBitRate);
    Pick(rate, "512");
    TypeInto(rate, "0a");
    EXPECT_EQ(rate->currentText(), "5120");
    EXPECT_EQ(Texts(), std::vector<QString>{"Please enter numerical."});
    EXPECT_EQ(messages.Beeps, 3);
    EXPECT_EQ(Stored("paraVideoBitRate"), "5120");
    EXPECT_EQ(Stored("iVideoBitRate"), "-1");
    QTest::keyClick(rate, Qt::Key_Backspace);
    EXPECT_EQ(Stored("paraVideoBitRate"), "512");
    EXPECT_EQ(Stored("iVideoBitRate"), "0");
}

TEST_F(TPanelTest, AnEmptyBitRateIsRefusedAndNeverStored) {
    panel->Load("0");
    QComboBox* rate = Box(TParameter::VideoBitRate);
    Pick(rate, "512");
    EXPECT_EQ(Stored("paraVideoBitRate"), "512");
    Erase(rate);
    EXPECT_EQ(Texts(), std::vector<QString>{"Video BitRate is not a valid value!"});
    EXPECT_EQ(rate->currentText(), "768");
    EXPECT_EQ(Stored("paraVideoBitRate"), "768");

    QComboBox* sampleRate = Box(TParameter::SampleRate);
    Erase(sampleRate);
    EXPECT_EQ(messages.Shown.back().Text, "Audio SampleRate is not a valid value!");
    EXPECT_EQ(Stored("paraSampleRate"), "44100");
    QComboBox* audioRate = Box(TParameter::AudioBitRate);
    audioRate->setEditText("96.5");  // pasted
    EXPECT_EQ(Stored("paraAudioBitRate"), "96.5");
    audioRate->setEditText("9 6");
    EXPECT_EQ(messages.Shown.back().Text, "Audio BitRate is not a valid value!");
    EXPECT_EQ(Stored("paraAudioBitRate"), "96");
}

TEST_F(TPanelTest, TheBitRateBoxOffersQualityAndSizeModesAndItsLabelSaysWhichIsInForce) {
    IniFile formats(formatPath);
    formats.WriteString("formatInfo300", "VideoEncoder", "h265");
    formats.WriteString("formatInfo300", "VideoBitRate", "CRF 22,CRF 26,1000,10 MB");
    formats.WriteString("formatInfo300", "iVideoBitRate", "1");
    panel->Load("300");
    QComboBox* rate = Box(TParameter::VideoBitRate);
    const QLabel* label = nullptr;
    for (const QLabel* l : panel->findChildren<QLabel*>())
        if (l->buddy() == rate) label = l;
    ASSERT_TRUE(label);
    panel->DefaultButton()->click();
    EXPECT_EQ(rate->currentText(), "CRF 26");
    EXPECT_EQ(label->text(), "Quality (CRF):");
    EXPECT_EQ(Stored("paraVideoBitRate", "formatInfo300"), "CRF 26");
    Pick(rate, "1000");
    EXPECT_EQ(label->text(), "BitRate (Kbps):");
    EXPECT_EQ(Stored("paraVideoBitRate", "formatInfo300"), "1000");
    Pick(rate, "10 MB");
    EXPECT_EQ(label->text(), "File Size:");
    EXPECT_EQ(Stored("paraVideoBitRate", "formatInfo300"), "10 MB");
    EXPECT_TRUE(messages.Shown.empty());
    // Typed text keeps to the old rules: the words of a mode cannot be typed.
    TypeInto(rate, "CRF 9");
    ASSERT_FALSE(messages.Shown.empty());
    EXPECT_EQ(messages.Shown.front().Text, "Please enter numerical.");
    const std::string stored = Stored("paraVideoBitRate", "formatInfo300");
    EXPECT_TRUE(stored == "10 MB" || stored == "CRF 26") << stored;
}

TEST_F(TPanelTest, ListChoicesStoreTheirEngineValues) {
    panel->Load("0");
    Pick(Box(TParameter::Volume), "50%");
    EXPECT_EQ(Stored("paraVolume"), "128");
    Pick(Box(TParameter::Volume), "100%");
    EXPECT_EQ(Stored("iVolume"), "1");
    EXPECT_EQ(Stored("paraVolume"), "256");
    Pick(Box(TParameter::Volume), "110%");
    EXPECT_EQ(Stored("iVolume"), "2");
    EXPECT_EQ(Stored("paraVolume"), "256");

    Pick(Box(TParameter::VideoEncoder), "h264");
    EXPECT_EQ(Stored("paraVideoEncoder"), "libx264");
    EXPECT_EQ(Stored("paraBitExact"), "TRUE");
    EXPECT_EQ(Stored("paraMaxBitrate"), "5000000");
    EXPECT_EQ(Stored("paraCoder"), "0");
    for (const char* key : {"paraBufferSize", "paraLevel", "paraQscale", "paraGop"})
        EXPECT_EQ(Stored(key), "<none>") << key;
    Pick(Box(TParameter::VideoEncoder), "fancy");
    EXPECT_EQ(Stored("iVideoEncoder"), "2");
    EXPECT_EQ(Stored("paraVideoEncoder"), "libx264");

    Pick(Box(TParameter::AudioEncoder), "aac");
    EXPECT_EQ(Stored("paraAudioEncoder"), "libfaac");
    Pick(Box(TParameter::Channel), "mono 1 channel");
    EXPECT_EQ(Stored("paraChannel"), "1");
    Pick(Box(TParameter::Channel), "surround");
    EXPECT_EQ(Stored("iChannel"), "2");
    EXPECT_EQ(Stored("paraChannel"), "1");
    Pick(Box(TParameter::FrameRate), "29.97");
    EXPECT_EQ(Stored("iFrameRate"), "2");
    EXPECT_EQ(Stored("paraFrameRate"), "29.97");
    Pick(panel->cmbZoom(), "Full Screen");
    EXPECT_EQ(Stored("paraZoom"), "full");
    Pick(panel->cmbZoom(), "Letter Box");
    EXPECT_EQ(Stored("paraZoom"), "lbox");
}

TEST_F(TPanelTest, AConversionUsesWhatThePanelStored) {
    panel->Load("0");
    Pick(Box(TParameter::VideoEncoder), "h264");
    Pick(Box(TParameter::Volume), "50%");
    Pick(Box(TParameter::Channel), "mono 1 channel");
    QComboBox* size = Box(TParameter::VideoSize);
    TypeOver(size, "401x300");
    Leave(other);
    TypeOver(Box(TParameter::VideoBitRate), "900");
    Pick(panel->cmbZoom(), "Full Screen");

    TOutputOptions out;
    TInputOptions in;
    TDefaultSizeAnswer answer;
    TSourceSummary source{1, 640, 480, 1000000};
    TJobGeometry job;
    job.ZoomMode = StoredZoomMode(0, IniFile(settingsPath));
    BuildOutputOptions(0, IniFile(formatPath), IniFile(settingsPath), job, source, answer, out, in);
    EXPECT_EQ(out.VideoCodec, "libx264");
    EXPECT_EQ(out.VideoBitrate, 900000);
    EXPECT_EQ(out.FrameSize, "400x300");
    EXPECT_EQ(out.AudioVolume, 128);
    EXPECT_EQ(out.AudioChannels, 1);
    EXPECT_EQ(out.AudioCodec, "libmp3lame");  // the definition's default, never touched
}

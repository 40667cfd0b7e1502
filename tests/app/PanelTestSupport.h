#pragma once
// Shared pieces of the parameter box tests: a small format definition file, recorded
// messages and beeps, and typing and leaving a box as a person does.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "formats/ui/ParameterPanel.h"
#include "platform/IniFile.h"

namespace paneltest {

// Code 0: a video format with H.264 tuning values, some of which fail their tests and
// entries the tables do not know ("fancy", "odd", "surround", "110%"). Code 100: another
// video format. Code 200: sound only.
inline const char* const Definitions =
    "[formatInfo0]\n"
    "Format=avi\nFileExt=avi\n"
    "VideoSize=as source,320x240,640x480\n"
    "VideoBitRate=512,768,1200\n"
    "FrameRate=as source,25,29.97\n"
    "VideoEncoder=mpeg-4,h264,fancy\n"
    "AudioBitRate=64,96,128\n"
    "SampleRate=22050,44100\n"
    "AudioEncoder=mp3,aac,odd\n"
    "Channel=mono 1 channel,stereo 2 channels,surround\n"
    "Volume=50%,100%,110%\n"
    "iVideoSize=2\niVideoBitRate=2\niFrameRate=1\niVideoEncoder=0\niAudioBitRate=2\n"
    "iSampleRate=1\niAudioEncoder=0\niChannel=1\niVolume=1\n"
    "paraBitExact=TRUE\nparaMaxBitrate=5000000\nparaBufferSize=0\nparaLevel=abc\n"
    "paraQscale=-3\nparaGop=0\nparaCoder=0\n"
    "[formatInfo100]\n"
    "Format=mpeg\nFileExt=mpg\n"
    "VideoSize=352x288,704x576\n"
    "VideoBitRate=1150,2000\n"
    "FrameRate=25,30\n"
    "VideoEncoder=mpeg1video\n"
    "AudioBitRate=128,224\n"
    "SampleRate=44100,48000\n"
    "AudioEncoder=mp2\n"
    "Channel=stereo 2 channels\n"
    "Volume=100%,200%\n"
    "iVideoSize=1\niVideoBitRate=0\niFrameRate=0\niVideoEncoder=0\niAudioBitRate=1\n"
    "iSampleRate=0\niAudioEncoder=0\niChannel=0\niVolume=0\n"
    "[formatInfo200]\n"
    "Format=mp3\nFileExt=mp3\n"
    "VideoSize=null\nVideoBitRate=null\nFrameRate=null\nVideoEncoder=\n"
    "AudioBitRate=64,128,192\n"
    "SampleRate=22050,44100\n"
    "AudioEncoder=mp3\n"
    "Channel=mono 1 channel,stereo 2 channels\n"
    "Volume=50%,100%\n"
    "iVideoSize=0\niVideoBitRate=0\niFrameRate=0\niVideoEncoder=0\niAudioBitRate=1\n"
    "iSampleRate=1\niAudioEncoder=0\niChannel=1\niVolume=1\n";

struct TMessage {
    QString Caption;
    QString Text;
};

class TRecordedPanelMessages : public TPanelMessages {
public:
    void ShowMessage(QWidget*, const QString& caption, const QString& text) override {
        Shown.push_back({caption, text});
    }
    void Beep() override { ++Beeps; }
    std::vector<TMessage> Shown;
    int Beeps = 0;
};

// Expects every key of the section to hold its value; "<none>" stands for a missing key.
inline void ExpectStored(const std::string& settingsPath, const std::string& section,
                         std::initializer_list<std::pair<const char*, const char*>> expected) {
    const IniFile settings(settingsPath);
    for (const auto& [key, value] : expected)
        EXPECT_EQ(settings.ReadString(section, key, "<none>"), value) << section << "/" << key;
}

// Gives the box the keyboard focus and types text at the end of what it holds.
inline void TypeInto(QComboBox* box, const QString& text) {
    box->setFocus(Qt::TabFocusReason);
    box->lineEdit()->end(false);
    QTest::keyClicks(box, text);
}

// Empties the box with backspaces, as a person would.
inline void Erase(QComboBox* box) {
    box->setFocus(Qt::TabFocusReason);
    box->lineEdit()->end(false);
    for (int n = box->currentText().size(); n > 0; --n) QTest::keyClick(box, Qt::Key_Backspace);
}

// Replaces what the box holds by typing over it.
inline void TypeOver(QComboBox* box, const QString& text) {
    box->setFocus(Qt::TabFocusReason);
    box->lineEdit()->selectAll();
    QTest::keyClicks(box, text);
}

// Moves the focus on to another control, as a click or Tab would.
inline void Leave(QWidget* next) {
    next->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
}

// Picks the entry as a person does from the drop-down.
inline void Pick(QComboBox* box, const QString& text) {
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(index);
    emit box->activated(index);
}

}  // namespace paneltest

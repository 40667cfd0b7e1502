#pragma once
// A task stand-in for the option handler's tests: settings, generic store, a host that
// records what the handler asked of it, and the engine log captured on the calling thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/EngineSettings.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegOptions.h"

struct TRecordingHost : TOptionHost {
    int Inputs = 0;
    int Outputs = 0;
    std::vector<AVRational> Rates;
    std::vector<AVMediaType> NewStreams;
    int64_t LastRecordingTime = -1;

    int InputCount() const override { return Inputs; }
    int OutputCount() const override { return Outputs; }
    void NewStream(AVMediaType type) override { NewStreams.push_back(type); }
    std::vector<AVRational> InputVideoFrameRates() const override { return Rates; }
    const void* LogSender() const override { return this; }
    void RecordingTimeChanged(int64_t us) override { LastRecordingTime = us; }
};

struct TLogLine {
    const void* Sender;
    TLogLevel Level;
    std::string Text;
};

class OptionsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
        FFLogger().Attach();
        FSavedLevel = FFLogger().LogLevel();
        FFLogger().SetLogLevel(llInfo);
        FFLogger().TriggerEventInMainThread = false;
        FFLogger().OnLog = [this](const void* sender, TThreadID, TLogLevel level, const std::string& msg) {
            Lines.push_back({sender, level, msg});
        };
        Generic.Reset();
    }
    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FFLogger().TriggerEventInMainThread = true;
        FFLogger().SetLogLevel(FSavedLevel);
    }

    // The message of the error raised by one option, or "" when none was raised.
    std::string ErrorOf(const std::string& name, const std::string& value) {
        try {
            Parser.ParseOption(name, value);
        } catch (const FFmpegException& e) {
            return e.what();
        }
        return "";
    }

    bool Logged(const std::string& text) const {
        for (const auto& l : Lines)
            if (l.Text.find(text) != std::string::npos) return true;
        return false;
    }

    int64_t VideoInt(const char* name) { return TemplateInt(AVMEDIA_TYPE_VIDEO, name); }
    int64_t AudioInt(const char* name) { return TemplateInt(AVMEDIA_TYPE_AUDIO, name); }
    int64_t TemplateInt(AVMediaType type, const char* name) {
        int64_t v = -12345;
        avutil().av_opt_get_int(Generic.MutableTemplate(type), name, 0, &v);
        return v;
    }

    TEngineSettings Settings;
    TGenericOptions Generic;
    TRecordingHost Host;
    TOptionParser Parser{Settings, Generic, Host};
    std::vector<TLogLine> Lines;

private:
    TLogLevel FSavedLevel = llInfo;
};

// reelshift-cli --format: whole conversions from the terminal, checked on disk with ffprobe.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <sstream>

#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

extern char** environ;

namespace {

std::string CliPath() { return BinDir() + "/reelshift-cli"; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

QJsonObject ParseLine(const std::string& line) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(doc.isObject()) << line;
    return doc.object();
}

class Convert : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Media = new TempDir;
        MakeClip(Media->file("clip.mp4"), 2, {"-s", "640x360", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    }
    static void TearDownTestSuite() {
        delete Media;
        Media = nullptr;
    }
    std::string Clip() const { return Media->file("clip.mp4"); }

    // A run with an empty settings file of its own: every format as the user never touched it.
    CommandResult Cli(std::vector<std::string> args) {
        std::vector<std::string> argv = {CliPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        for (const std::string& a : {std::string("--settings"), Dir.file("settings.ini"), std::string("--output-dir"),
                                     Dir.file("out")})
            argv.push_back(a);
        return testsupport::Run(argv);
    }

    static TempDir* Media;
    TempDir Dir;
};
TempDir* Convert::Media = nullptr;

}  // namespace

TEST_F(Convert, FirstFormatWritesANewAviWithPictureAndSoundAndThenANumberedOne) {
    auto r = Cli({"--format", "0", Clip()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string first = Dir.file("out") + "/clip_(new).avi";
    ASSERT_TRUE(fs::exists(first)) << r.out;
    EXPECT_EQ(ProbeValue(first, "format=format_name"), "avi");
    EXPECT_EQ(ProbeValue(first, "stream=codec_type", "v:0"), "video");
    EXPECT_EQ(ProbeValue(first, "stream=codec_type", "a:0"), "audio");
    EXPECT_NEAR(std::stod(ProbeValue(first, "format=duration")), 2.0, 0.25);
    EXPECT_NE(r.out.find(first), std::string::npos);

    r = Cli({"--format", "0", Clip()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string second = Dir.file("out") + "/clip_(new_1).avi";
    ASSERT_TRUE(fs::exists(second));
    EXPECT_EQ(ProbeValue(second, "stream=codec_type", "v:0"), "video");
    // The user's settings file keeps no trace of the chosen output folder.
    EXPECT_EQ(ReadFile(Dir.file("settings.ini")).find("OutPutDir"), std::string::npos);
}

TEST_F(Convert, JsonLinesParseAndAMissingInputFailsOnlyThatFile) {
    // Quotes, a backslash and a line break in a name must not break the lines.
    const std::string odd = Dir.file("we\"ird\\na\nme.mp4");
    fs::copy_file(Clip(), odd);
    auto r = Cli({"--format", "0", "--json", "--jobs", "2", Clip(), Dir.file("missing.mp4"), odd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.mp4"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;

    std::map<int, QJsonObject> ends;
    int progress = 0;
    for (const auto& line : Lines(r.out)) {
        QJsonObject o = ParseLine(line);
        const QString event = o.value("event").toString();
        if (event == "progress") {
            ++progress;
            EXPECT_TRUE(o.value("percent").isDouble());
            EXPECT_TRUE(o.value("fps").isDouble());
            EXPECT_TRUE(o.contains("eta_s"));
            EXPECT_TRUE(o.value("file").isString());
        } else {
            ASSERT_EQ(event, "end") << line;
            ends[o.value("task").toInt()] = o;
        }
    }
    EXPECT_GE(progress, 1);
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_TRUE(ends[0].value("finished").toBool());
    EXPECT_TRUE(ends[0].value("error").isNull());
    EXPECT_FALSE(ends[1].value("finished").toBool());
    EXPECT_TRUE(ends[1].value("error").toString().contains("No such file"));
    EXPECT_TRUE(ends[2].value("finished").toBool());
    EXPECT_EQ(ends[2].value("file").toString().toStdString(), odd);
    EXPECT_TRUE(fs::exists(ends[2].value("output").toString().toStdString()));
}

TEST_F(Convert, NeverTouchedFormatsConvertWithPicture) {
    // An MPEG-1 and an MPEG-2 profile, neither of them ever set up by the user.
    auto r = Cli({"--format", "100", Clip()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = Dir.file("out") + "/clip_(new).mpg";
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg1video");
    EXPECT_EQ(ProbeValue(out, "stream=codec_type", "a:0"), "audio");
}

TEST_F(Convert, CommandLinesItCannotUseAreRefused) {
    EXPECT_EQ(Cli({"--format", "abc", Clip()}).exitCode, 2);
    EXPECT_EQ(Cli({"--format", "9999", Clip()}).exitCode, 2);
    EXPECT_EQ(Cli({"--format", "0"}).exitCode, 2);
    EXPECT_EQ(Cli({"--format", "0", "--jobs", "0", Clip()}).exitCode, 2);
    EXPECT_EQ(Cli({"--format", "0", "--edition", "other", Clip()}).exitCode, 2);
}

TEST_F(Convert, CtrlCStopsEveryTaskAndLeavesNoEmptyFile) {
    const std::string longClip = Dir.file("long.avi");
    MakeClip(longClip, 20, {"-c:v", "mpeg4", "-c:a", "mp2"});
    const std::string out = Dir.file("out");
    std::vector<std::string> argv = {CliPath(), "--format", "0", "--settings", Dir.file("settings.ini"),
                                     "--output-dir", out, "--json", longClip, longClip, longClip};
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&fa, pipeFds[0]);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipeFds[1]);

    // Interrupt as soon as a task reports progress. That task may still come to its end in
    // the moment before the interrupt is seen (on a fast machine its first report can be
    // its last); every other task must be stopped or never started.
    std::string text;
    char buf[512];
    ssize_t n;
    bool sent = false;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) {
        text.append(buf, size_t(n));
        if (!sent && text.find("\"progress\"") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = true;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(sent) << text;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);

    int runningAtInterrupt = -1;  // the task of the first progress line
    for (const auto& line : Lines(text)) {
        QJsonObject o = ParseLine(line);
        if (o.value("event").toString() == "progress") {
            runningAtInterrupt = o.value("task").toInt(-1);
            break;
        }
    }
    int ends = 0;
    for (const auto& line : Lines(text)) {
        QJsonObject o = ParseLine(line);
        if (o.value("event").toString() != "end") continue;
        ++ends;
        if (o.value("task").toInt(-2) != runningAtInterrupt) EXPECT_FALSE(o.value("finished").toBool()) << line;
    }
    EXPECT_EQ(ends, 3);
    for (const auto& entry : fs::directory_iterator(out))
        EXPECT_GT(fs::file_size(entry.path()), 0u) << entry.path();
}

TEST_F(Convert, AFormatMayBeNamedByItsNameOrExtensionWhenThatNamesExactlyOne) {
    auto r = Cli({"--format", "mp3", Clip()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ProbeValue(Dir.file("out") + "/clip_(new).mp3", "stream=codec_name", "a:0"), "mp3");

    r = Cli({"--format", "avi", Clip()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    for (const char* candidate : {"0\t", "104\t", "106\t", "107\t"})
        EXPECT_NE(r.err.find(candidate), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Dir.file("out") + "/clip_(new).avi"));
}

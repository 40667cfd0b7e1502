// reelshift-cli --format: whole conversions from the terminal, checked on disk with ffprobe.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <map>
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

// Starts argv[0] with its standard output into a pipe; *output is the reading end. -1 when
// it cannot be started.
pid_t SpawnWithOutputPipe(std::vector<std::string> argv, int* output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    if (!started) {
        ::close(fds[0]);
        return -1;
    }
    *output = fds[0];
    return pid;
}

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
    // A name that is not UTF-8 (Latin-1 "café"): its line shows U+FFFD, its output the same bytes.
    const std::string latin1 = Dir.file("caf\xe9.mp4");
    fs::copy_file(Clip(), latin1);
    auto r = Cli({"--format", "0", "--json", "--jobs", "2", Clip(), Dir.file("missing.mp4"), odd, latin1});
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
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_TRUE(ends[0].value("finished").toBool());
    EXPECT_TRUE(ends[0].value("error").isNull());
    EXPECT_FALSE(ends[1].value("finished").toBool());
    EXPECT_TRUE(ends[1].value("error").toString().contains("No such file"));
    EXPECT_TRUE(ends[2].value("finished").toBool());
    EXPECT_EQ(ends[2].value("file").toString().toStdString(), odd);
    EXPECT_TRUE(fs::exists(ends[2].value("output").toString().toStdString()));
    EXPECT_TRUE(ends[3].value("finished").toBool());
    EXPECT_EQ(ends[3].value("file").toString(), QString::fromStdString(Dir.file("caf")) + QChar(0xFFFD) + ".mp4");
    const std::string latin1Output = Dir.file("out") + "/caf\xe9_(new).avi";
    ASSERT_TRUE(fs::exists(latin1Output));
    EXPECT_EQ(ProbeValue(latin1Output, "stream=codec_type"), "video\naudio");
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
    int output = -1;
    const pid_t pid = SpawnWithOutputPipe(argv, &output);
    ASSERT_GT(pid, 0);

    // Interrupt as soon as a task reports progress. That task may still come to its end in
    // the moment before the interrupt is seen (on a fast machine its first report can be
    // its last); every other task must be stopped or never started.
    std::string text;
    char buf[512];
    ssize_t n;
    bool sent = false;
    while ((n = ::read(output, buf, sizeof buf)) > 0) {
        text.append(buf, size_t(n));
        if (!sent && text.find("\"progress\"") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = true;
        }
    }
    ::close(output);
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

namespace {
// The end events of --json output, by file.
std::multimap<std::string, QJsonObject> EndsByFile(const std::string& out) {
    std::multimap<std::string, QJsonObject> ends;
    for (const auto& line : Lines(out)) {
        QJsonObject o = ParseLine(line);
        if (o.value("event").toString() == "end") ends.emplace(o.value("file").toString().toStdString(), o);
    }
    return ends;
}
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
double Seconds(const std::string& file) {
    const std::string d = ProbeValue(file, "format=duration");
    return d.empty() ? -1.0 : std::stod(d);
}
}  // namespace

// A batch killed mid-file leaves no incomplete file under a final name; the same command with
// --skip-existing then converts only what is missing.
TEST_F(Convert, AKilledBatchResumedWithSkipExistingConvertsOnlyWhatIsMissing) {
    const std::string source = Dir.file("long.avi");
    MakeClip(source, 6, {"-s", "320x240", "-c:v", "mpeg4", "-c:a", "mp2"});
    std::vector<std::string> files;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) {
        files.push_back(Dir.file(name));
        fs::create_hard_link(source, files.back());
    }
    const std::string out = Dir.file("out");
    std::vector<std::string> argv = {CliPath(), "--format", "0", "--skip-existing", "--json", "--settings",
                                     Dir.file("settings.ini"), "--output-dir", out};
    argv.insert(argv.end(), files.begin(), files.end());
    int output = -1;
    const pid_t pid = SpawnWithOutputPipe(argv, &output);
    ASSERT_GT(pid, 0);
    // Killed as the second file reports progress: the first is done, the second half-written.
    std::string text;
    char buf[512];
    ssize_t n;
    bool killed = false;
    while (!killed && (n = ::read(output, buf, sizeof buf)) > 0) {
        text.append(buf, size_t(n));
        for (const auto& line : Lines(text)) {
            QJsonObject o = ParseLine(line);
            if (o.value("event").toString() == "progress" && o.value("task").toInt() == 1 && o.value("percent").toInt() > 0) {
                ::kill(pid, SIGKILL);
                killed = true;
                break;
            }
        }
    }
    ::close(output);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(killed) << text;
    EXPECT_TRUE(WIFSIGNALED(status));
    // On a busy machine the kill can land after the second file was finished: what counts is
    // that every final name holds a whole file, and the second run makes the rest.
    size_t finished = 0;
    for (const auto& name : Names(out)) {
        if (name[0] == '.') {
            EXPECT_TRUE(name.ends_with(".reelshift-part")) << name;
            continue;
        }
        EXPECT_EQ(name, std::string(1, char('a' + finished)) + "_(new).avi");
        EXPECT_NEAR(Seconds(out + "/" + name), 6.0, 0.3) << name;
        ++finished;
    }
    ASSERT_GE(finished, 1u);
    ASSERT_LT(finished, 3u) << "killed after the last file";

    std::vector<std::string> again = {"--format", "0", "--skip-existing", "--json"};
    again.insert(again.end(), files.begin(), files.end());
    auto r = Cli(again);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto ends = EndsByFile(r.out);
    ASSERT_EQ(ends.size(), 3u) << r.out;
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(ends.find(files[i])->second.value("skipped").toBool(), i < finished) << files[i];
        if (i >= finished) EXPECT_TRUE(ends.find(files[i])->second.value("finished").toBool()) << files[i];
    }
    EXPECT_EQ(Names(out), (std::vector<std::string>{"a_(new).avi", "b_(new).avi", "c_(new).avi"}));
    for (const auto& name : Names(out)) EXPECT_NEAR(Seconds(out + "/" + name), 6.0, 0.3) << name;

    // --overwrite makes the one name again; without either option the next name is numbered.
    r = Cli({"--format", "0", "--overwrite", files[0]});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"--format", "0", "--overwrite", "--skip-existing", files[0]}).exitCode, 2);
    EXPECT_EQ(Names(out).size(), 3u);
}

// Two runs over overlapping lists, side by side through GNU parallel, as two machines sharing a
// batch would: every file is converted once, the other run skips it.
TEST_F(Convert, TwoSkipExistingRunsWithOverlappingListsConvertEachFileOnce) {
    if (testsupport::Run({"parallel", "--version"}).exitCode != 0) GTEST_SKIP() << "GNU parallel is not installed";
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(Dir.file("f" + std::to_string(i) + ".mp4"));
        fs::create_hard_link(Clip(), files.back());
    }
    const std::string out = Dir.file("out");
    const std::string share1 = files[0] + " " + files[1] + " " + files[2] + " " + files[3];
    const std::string share2 = files[2] + " " + files[3] + " " + files[4] + " " + files[5];
    auto r = testsupport::Run({"parallel", "--will-cite", "-j2", "--colsep", " ", CliPath(), "--format", "0", "--skip-existing",
                  "--json", "--settings", Dir.file("settings.ini"), "--output-dir", out, "{1}", "{2}", "{3}", "{4}",
                  ":::", share1, share2});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto ends = EndsByFile(r.out);
    ASSERT_EQ(ends.size(), 8u) << r.out;
    for (const auto& file : files) {
        int converted = 0, skipped = 0;
        for (auto [it, last] = ends.equal_range(file); it != last; ++it) {
            converted += it->second.value("finished").toBool();
            skipped += it->second.value("skipped").toBool();
        }
        EXPECT_EQ(converted, 1) << file;
        EXPECT_EQ(skipped, ends.count(file) - 1) << file;
    }
    const std::vector<std::string> expected = {"f0_(new).avi", "f1_(new).avi", "f2_(new).avi",
                                               "f3_(new).avi", "f4_(new).avi", "f5_(new).avi"};
    EXPECT_EQ(Names(out), expected);
    for (const auto& name : expected) EXPECT_NEAR(Seconds(out + "/" + name), 2.0, 0.2) << name;
}

// reelshift-cli --format CODE [--edition E] [--output-dir DIR] [--settings FILE] [--jobs N]
//               [--json] [EDITS] FILE...
// Converts each file as the desktop program's run does: the output-name rule with the
// format's extension, the format's parameters turned into output options, the same engine
// component, and the per-file edits (trim, crop, zoom, watermarks, effects; EditOptions.h)
// given once for all files and drawn by the same frame hook. Exit status: 0 when every file
// converted (or was skipped), 1 when one failed, 3 when none failed but a source ended
// clearly short of its stated length (its output holds what arrived), 130 after Ctrl-C, 2 for
// a command line it cannot use. --skip-existing and --overwrite make a batch that can be
// given again: each source has one name without numbering, and a file already made (or being
// made by another run) is skipped or replaced. An output is complete under its final name or
// not there at all.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QGuiApplication>

#include "cli/Commands.h"
#include "cli/EditOptions.h"
#include "cli/JsonText.h"
#include "edits/FrameEdits.h"
#include "edits/JobEdits.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegVCL.h"
#include "engine/MainThread.h"
#include "formats/Catalogue.h"
#include "formats/Edition.h"
#include "formats/FormatLookup.h"
#include "formats/OptionsBuilder.h"
#include "formats/OutputName.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/ProgramFolder.h"
#include "player/AVProbe.h"

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
    gInterrupted = 1;
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends the program at once
}

void Usage() { PrintUsage(stderr); }

// What the probe read of a file, for setting up its job.
struct ProbedSource {
    bool Readable = false;
    std::string Error;  // why it could not be read
    std::string FileName;
    TSourceSummary Summary;
};

struct Job {
    std::string Source;
    std::string Output;
    int Task = -1;  // index in the component, -1 when the file never became a task
    bool Started = false;
    bool Ended = false;
    bool Finished = false;
    bool Incomplete = false;  // finished, but the source ended short of its stated length
    bool Skipped = false;     // its output exists or another program converts it (--skip-existing)
    std::string Error;        // why it failed or was skipped; when incomplete, how much arrived
    std::chrono::steady_clock::time_point Start;
    std::string Line;  // its progress line while it runs
};

std::string Clock(double seconds) {
    if (seconds < 0) return "--:--:--";
    const long s = long(seconds + 0.5);
    return Format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
}

// The record's percentage as the desktop program computes it, limited to 0..100; -1 when
// the total is unknown.
int Percent(const TProgressInfo& p) {
    if (p.TotalDuration <= 0) return -1;
    int64_t percent = p.CurrentDuration * 100 / p.TotalDuration;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    return int(percent);
}

class ConvertRun {
public:
    ConvertRun(std::vector<Job>& jobs, bool json) : FJobs(jobs), FJson(json), FTerminal(::isatty(STDOUT_FILENO)) {}

    void Attach(TFFmpegVCL& vcl) {
        vcl.OnProgress = [this](TCustomFFmpegVCL*, PProgressInfo p) { Progress(*p); };
        vcl.OnTerminate = [this](TCustomFFmpegVCL*, const TTerminateInfo& t) {
            {
                std::lock_guard lock(FLock);
                FEnded.push_back(t);
            }
            TheMainThread().WakeWaiters();
        };
    }

    // Until the all-ended event: serves the main thread, notes starts, prints ends.
    // Returns false when interrupted.
    bool Follow(TFFmpegVCL& vcl) {
        bool interrupted = false;
        // A call or a job's end wakes the loop at once: a look every 5 ms cost each run up
        // to 5 ms after its end. Ctrl+C can only set a flag, still looked at every 5 ms.
        auto* queue = dynamic_cast<CallQueueMainThread*>(&TheMainThread());
        for (;;) {
            const unsigned long wakes = queue ? queue->Wakes() : 0;
            TheMainThread().ServePending();
            if (gInterrupted && !interrupted) {
                interrupted = true;
                vcl.StopTask(true);
            }
            NoteStarts(vcl);
            if (DrainEnds()) break;
            Redraw(false);
            if (queue)
                queue->WaitForCalls(wakes, std::chrono::milliseconds(5));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Redraw(true);
        return !interrupted;
    }

    void ReportSkipped(size_t fileIndex, const std::string& why) {
        Job& job = FJobs[fileIndex];
        job.Ended = true;
        job.Skipped = true;
        job.Error = why;
        PrintEnd(fileIndex);
    }

    void ReportEarlyFailure(size_t fileIndex) {
        Job& job = FJobs[fileIndex];
        job.Ended = true;
        PrintEnd(fileIndex);
    }

private:
    Job* JobOfTask(int task) {
        for (auto& job : FJobs)
            if (job.Task == task) return &job;
        return nullptr;
    }

    void NoteStarts(TFFmpegVCL& vcl) {
        for (auto& job : FJobs) {
            if (job.Task < 0 || job.Started) continue;
            TFFmpeg* task = vcl.Task(job.Task);
            if (task && (task->Running() || task->Ended())) {
                job.Started = true;
                job.Start = std::chrono::steady_clock::now();
            }
        }
    }

    void Progress(const TProgressInfo& p) {
        Job* job = JobOfTask(p.TaskIndex);
        if (!job) return;
        if (!job->Started) {
            job->Started = true;
            job->Start = std::chrono::steady_clock::now();
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - job->Start).count();
        const int percent = Percent(p);
        const double eta = percent > 0 ? elapsed * (100 - percent) / percent : -1.0;
        const size_t fileIndex = size_t(job - FJobs.data());
        if (FJson) {
            std::printf("{\"event\":\"progress\",\"task\":%zu,\"file\":%s,\"percent\":%d,\"fps\":%d,\"eta_s\":%s}\n",
                        fileIndex, JsonString(job->Source).c_str(), percent, p.FPS < 0 ? 0 : p.FPS,
                        eta < 0 ? "null" : Format("%.1f", eta).c_str());
            std::fflush(stdout);
            return;
        }
        job->Line = Format("[%zu] %3s%%  %4d fps  elapsed %s  remaining %s  %s", fileIndex + 1,
                           percent < 0 ? "?" : std::to_string(percent).c_str(), p.FPS < 0 ? 0 : p.FPS,
                           Clock(elapsed).c_str(), Clock(eta).c_str(), fs::path(job->Source).filename().c_str());
        FDirty = true;
    }

    // Prints the ends that arrived; true once the all-ended record came.
    bool DrainEnds() {
        std::deque<TTerminateInfo> ended;
        {
            std::lock_guard lock(FLock);
            ended.swap(FEnded);
        }
        bool all = false;
        for (const auto& t : ended) {
            if (t.TaskIndex < 0) {
                all = true;
                continue;
            }
            Job* job = JobOfTask(t.TaskIndex);
            if (!job) continue;
            job->Ended = true;
            job->Finished = t.Finished && !t.Exception;
            job->Incomplete = job->Finished && t.Incomplete;
            job->Skipped = t.Skipped;
            if (!job->Finished)
                job->Error = t.Exception || t.Skipped ? t.ExceptionMsg : std::string("stopped");
            else if (job->Incomplete)
                job->Error = t.IncompleteMsg;
            job->Line.clear();
            ClearBlock();
            PrintEnd(size_t(job - FJobs.data()));
            FDirty = true;
        }
        return all;
    }

    void PrintEnd(size_t fileIndex) {
        const Job& job = FJobs[fileIndex];
        if (FJson) {
            const std::string message = job.Error.empty() || job.Skipped ? "null" : JsonString(job.Error);
            std::printf("{\"event\":\"end\",\"task\":%zu,\"file\":%s,\"output\":%s,\"finished\":%s,\"error\":%s,"
                        "\"incomplete\":%s,\"skipped\":%s}\n",
                        fileIndex, JsonString(job.Source).c_str(),
                        job.Output.empty() ? "null" : JsonString(job.Output).c_str(), job.Finished ? "true" : "false",
                        job.Incomplete ? "null" : message.c_str(), job.Incomplete ? message.c_str() : "null",
                        job.Skipped ? "true" : "false");
            if (job.Skipped) {
                std::fflush(stdout);
                return;
            }
        } else if (job.Finished) {
            std::printf("%s -> %s%s\n", job.Source.c_str(), job.Output.c_str(), job.Incomplete ? " (incomplete)" : "");
        } else if (job.Skipped) {
            std::printf("%s: skipped, %s\n", job.Source.c_str(), job.Error.c_str());
            std::fflush(stdout);
            return;
        }
        if (job.Incomplete) {
            std::fprintf(stderr, "reelshift-cli: %s: %s\n", job.Source.c_str(), job.Error.c_str());
        } else if (!job.Finished) {
            // Library texts often name the file already.
            if (job.Error.compare(0, job.Source.size(), job.Source) == 0)
                std::fprintf(stderr, "reelshift-cli: %s\n", job.Error.c_str());
            else
                std::fprintf(stderr, "reelshift-cli: %s: %s\n", job.Source.c_str(), job.Error.c_str());
        }
        std::fflush(stdout);
    }

    // The progress block: one line per running task, redrawn in place on a terminal.
    void ClearBlock() {
        if (!FTerminal || FJson || FDrawn == 0) return;
        std::printf("\x1b[%dA\x1b[J", FDrawn);
        FDrawn = 0;
    }

    void Redraw(bool final) {
        if (!FTerminal || FJson) return;
        const auto now = std::chrono::steady_clock::now();
        if (!final && (!FDirty || now - FLastDraw < std::chrono::milliseconds(100))) return;
        ClearBlock();
        if (!final)
            for (const auto& job : FJobs)
                if (!job.Ended && !job.Line.empty()) {
                    std::printf("\x1b[2K%s\n", job.Line.c_str());
                    ++FDrawn;
                }
        std::fflush(stdout);
        FDirty = false;
        FLastDraw = now;
    }

    std::vector<Job>& FJobs;
    const bool FJson;
    const bool FTerminal;
    std::mutex FLock;
    std::deque<TTerminateInfo> FEnded;
    int FDrawn = 0;
    bool FDirty = false;
    std::chrono::steady_clock::time_point FLastDraw{};
};

// A settings file of our own that names the chosen output folder, so that --output-dir
// never changes the user's stored folder.
class ScratchSettings {
public:
    explicit ScratchSettings(const std::string& outputDir) {
        char tmpl[] = "/tmp/reelshift-cli-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary folder");
        FFolder = tmpl;
        FIni = std::make_unique<IniFile>(FFolder + "/settings.ini", IniFile::TWrites::Scratch);
        std::error_code ec;
        FIni->WriteString(settings_key::Section, settings_key::OutputFolder, fs::absolute(outputDir, ec).string());
    }
    ~ScratchSettings() {
        std::error_code ec;
        fs::remove_all(FFolder, ec);
    }
    IniFile& Ini() { return *FIni; }

private:
    std::string FFolder;
    std::unique_ptr<IniFile> FIni;
};

}  // namespace

int ConvertCommand(const TCommandLine& line) {
    TEdition edition = CompiledEdition();
    std::string codeText, outputDir, settingsPath;
    int jobsAtOnce = 1;
    bool json = false, skipExisting = false, overwrite = false;
    bool noRotate = false, noDeinterlace = false, noToneMap = false;
    std::vector<std::string> files;
    TCommandEdits edits;
    for (const TCliArgument& arg : line.Arguments) {
        const std::string& a = arg.Option;
        const std::string& v = arg.Value;
        if (a.empty()) {
            files.push_back(v);
        } else if (a == "--format") {
            codeText = v;
        } else if (a == "--edition") {
            if (!ParseEditionName(v, edition)) {
                std::fprintf(stderr, "reelshift-cli: unknown edition '%s' (use mp4avi or video)\n", v.c_str());
                return 2;
            }
        } else if (a == "--output-dir") {
            outputDir = v;
        } else if (a == "--settings") {
            settingsPath = v;
        } else if (a == "--jobs") {
            const auto n = ParseInteger(v);
            if (!n || *n < 1) {
                std::fprintf(stderr, "reelshift-cli: --jobs needs a number of 1 or more\n");
                return 2;
            }
            jobsAtOnce = *n;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--skip-existing") {
            skipExisting = true;
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a == "--no-rotate") {
            noRotate = true;
        } else if (a == "--no-deinterlace") {
            noDeinterlace = true;
        } else if (a == "--no-tonemap") {
            noToneMap = true;
        } else if (IsEditOption(a)) {
            if (auto error = ReadEditOption(a, v, edits)) {
                std::fprintf(stderr, "reelshift-cli: %s\n", error->c_str());
                return 2;
            }
        }
    }
    if (codeText.empty() || files.empty()) {
        Usage();
        return 2;
    }
    if (skipExisting && overwrite) {
        std::fprintf(stderr, "reelshift-cli: --skip-existing and --overwrite exclude each other\n");
        return 2;
    }
    if (const std::string problem = FormatFileProblem(edition); !problem.empty()) {
        std::fprintf(stderr, "reelshift-cli: %s\n", problem.c_str());
        return 1;
    }
    const IniFile formatFile(FindFormatFile(edition));
    const std::vector<int> found = FindFormats(edition, formatFile, codeText);
    if (found.size() != 1) {
        if (found.empty())
            std::fprintf(stderr, "reelshift-cli: no format '%s' in the %s edition (see --list-formats)\n",
                         codeText.c_str(), EditionName(edition).c_str());
        else
            std::fprintf(stderr, "reelshift-cli: '%s' names %zu formats; give one of these codes:\n",
                         codeText.c_str(), found.size());
        for (int candidate : found)
            std::fprintf(stderr, "  %d\t%s\n", candidate, CatalogueFormatName(edition, candidate).c_str());
        return 2;
    }
    const int code = found.front();
    IniFile userSettings(settingsPath.empty() ? EditionSettingsFile(edition) : settingsPath);
    // The picture's automatic steps as the settings store them, each turned off by its option.
    TSourcePictureSwitches switches = StoredPictureSwitches(userSettings);
    if (noRotate) switches.Rotate = false;
    if (noDeinterlace) switches.Deinterlace = false;
    if (noToneMap) switches.ToneMap = false;
    std::unique_ptr<ScratchSettings> scratch;
    if (!outputDir.empty()) scratch = std::make_unique<ScratchSettings>(outputDir);
    IniFile& outputSettings = scratch ? scratch->Ini() : userSettings;

    TFFmpegVCL vcl;
    FFLogger().TriggerEventInMainThread = false;  // nothing is shown of the log
    // A file waiting for its turn holds nothing, however long the list. Each output is
    // written under a temporary name whose lock tells other runs that it is being made.
    vcl.SetOpenOnStart(true);
    vcl.SetOutputPolicy(skipExisting ? TOutputPolicy::Skip : overwrite ? TOutputPolicy::Replace : TOutputPolicy::Keep);
    auto warn = [](const std::string& text) { std::fprintf(stderr, "reelshift-cli: %s\n", text.c_str()); };
    // With either option a source has one name, without numbering: a run given again (or
    // on another machine over the same folder) finds the files already made.
    const bool unnumbered = skipExisting || overwrite;
    std::vector<std::string> alreadyMade(files.size());
    if (skipExisting)
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string name = UnnumberedRunOutputFileName(outputSettings, formatFile, code, files[i], warn);
            std::error_code ec;
            if (fs::exists(fs::symlink_status(name, ec))) alreadyMade[i] = name;
        }
    if (!vcl.LoadLibraries(DefaultLibraryFolder())) {
        std::fprintf(stderr, "reelshift-cli: %s\n", vcl.LastError().c_str());
        return 1;
    }
    // The probe shares the loaded set; it needs no sound.
    std::signal(SIGINT, OnInterrupt);

    // Each file's job record, checked against the file before anything is converted: a trim
    // past its end or a crop that leaves nothing refuses the whole command.
    // What the probe read of each file is kept for setting up its job: every file is opened
    // once here, not again below.
    std::vector<TlvFilesRecord> records(files.size());
    std::vector<ProbedSource> probed(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (!alreadyMade[i].empty()) continue;  // nothing to read it for
        ProbedSource& facts = probed[i];
        TAVProbe& probe = vcl.Probe();
        int64_t duration = 0;
        if (probe.LoadFile(files[i])) {
            facts.Readable = true;
            facts.FileName = probe.FileName();
            // An unknown length cannot be checked; the engine then ends with the input.
            const int64_t length = probe.FileStreamInfo().Duration;
            duration = length > 0 ? length : INT64_MAX;
            facts.Summary.Duration = length > 0 ? length : 0;
            facts.Summary.VideoStreamCount = probe.VideoStreamCount() > 0 ? probe.VideoStreamCount() : 0;
            if (facts.Summary.VideoStreamCount > 0) {
                const TVideoStreamInfo video = probe.VideoStreamInfo(-1);
                facts.Summary.Width = video.Width;
                facts.Summary.Height = video.Height;
                facts.Summary.BitRate = video.BitRate > 0 ? video.BitRate : 0;
                facts.Summary.SampleAspectNum = video.SampleAspectNum;
                facts.Summary.SampleAspectDen = video.SampleAspectDen;
                facts.Summary.Rotation = video.Rotation;
            }
            probe.CloseFile();
        } else {
            facts.Error = probe.LastError();
            if (edits.Trimmed) duration = INT64_MAX;  // an unreadable file fails by itself below
        }
        // Crops are of the picture as it is seen.
        const TSourceSummary upright = UprightSummary(facts.Summary, switches.Rotate);
        if (auto error = JobForFile(edits, files[i], duration, upright.Width, upright.Height, records[i])) {
            std::fprintf(stderr, "reelshift-cli: %s\n", error->c_str());
            return 2;
        }
    }
    // Text is drawn with the system's fonts, which need a GUI application object; the
    // offscreen platform keeps the converter free of any display.
    std::unique_ptr<QGuiApplication> fonts;
    if (!edits.Job.WatermarkText.empty()) {
        static int argc = 3;
        static char arg0[] = "reelshift-cli", arg1[] = "-platform", arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        // Qt's own notes (about the missing session folders of a terminal) are no concern here.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "reelshift-cli: %s\n", text.toLocal8Bit().constData());
        });
        fonts = std::make_unique<QGuiApplication>(argc, argv);
    }

    std::vector<Job> jobs(files.size());
    ConvertRun run(jobs, json);
    run.Attach(vcl);
    // Every file's frames pass through the hook, which draws the edits or, for a job
    // without any, switches itself off at the first frame.
    std::vector<int> fileOfTask;
    TRunFrameEdits frameEdits;
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo info) {
        const int t = info->TaskIndex;
        if (t < 0 || size_t(t) >= fileOfTask.size() || fileOfTask[size_t(t)] < 0) return;
        frameEdits.Hook(*info, records[size_t(fileOfTask[size_t(t)])]);
    };
    TDefaultSizeAnswer sizeAnswer;
    std::set<std::string> planned;  // no file exists before its task runs: the names are kept apart here
    auto plannedAlready = [&planned](const std::string& path) { return planned.count(path) > 0; };
    for (size_t i = 0; i < files.size() && !gInterrupted; ++i) {
        Job& job = jobs[i];
        job.Source = files[i];
        if (!alreadyMade[i].empty()) {
            job.Output = alreadyMade[i];
            run.ReportSkipped(i, alreadyMade[i] + " exists already");
            continue;
        }
        const ProbedSource& facts = probed[i];
        if (!facts.Readable) {
            job.Error = facts.Error;
            run.ReportEarlyFailure(i);
            continue;
        }
        job.Output = unnumbered ? UnnumberedRunOutputFileName(outputSettings, formatFile, code, facts.FileName, warn)
                                : RunOutputFileName(outputSettings, formatFile, code, facts.FileName, warn, plannedAlready);
        planned.insert(job.Output);
        TlvFilesRecord& record = records[i];
        record.ZoomMode = edits.Zoom ? *edits.Zoom : StoredZoomMode(code, userSettings);
        TInputOptions input;
        TOutputOptions output;
        const std::string refusal = MakeJobOptions(record, code, formatFile, userSettings, facts.Summary, sizeAnswer, input, output,
                       [&job](const std::string& line) {
                           std::fprintf(stderr, "reelshift-cli: %s: %s\n", job.Source.c_str(), line.c_str());
                       },
                       &switches);
        output.FileName = job.Output;
        if (!refusal.empty()) {
            job.Error = refusal;
            job.Output.clear();
            run.ReportEarlyFailure(i);
            continue;
        }

        const int task = vcl.AddTask(job.Source, &input);
        if (task < 0) {
            job.Error = vcl.LastError();
            job.Output.clear();
            run.ReportEarlyFailure(i);
            continue;
        }
        if (!vcl.SetOutputFile(task, job.Output, &output)) {
            job.Error = vcl.LastError();
            job.Output.clear();
            vcl.RemoveTask(task);
            run.ReportEarlyFailure(i);
            continue;
        }
        job.Task = task;
        if (fileOfTask.size() <= size_t(task)) fileOfTask.resize(size_t(task) + 1, -1);
        fileOfTask[size_t(task)] = int(i);
    }

    bool completed = !gInterrupted;
    if (completed && vcl.TaskCount() > 0) {
        vcl.StartTask(jobsAtOnce);
        completed = run.Follow(vcl);
    }
    vcl.ClearTasks();
    for (auto& job : jobs)
        if (job.Task >= 0 && !job.Ended && !completed) {
            job.Error = "stopped before the start";
            job.Ended = true;
        }
    if (!completed || gInterrupted) return 130;
    for (const auto& job : jobs)
        if (!job.Finished && !job.Skipped) return 1;
    for (const auto& job : jobs)
        if (job.Incomplete) return 3;
    return 0;
}

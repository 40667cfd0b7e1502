// reelshift-cli --engine: one engine task from the terminal.
//   --engine [--input-option KEY=VALUE]... INPUT [INPUT...] [--join] -o OUTPUT [KEY=VALUE]...
//            [-o OUTPUT [KEY=VALUE]...]...
// Input options apply to the input that follows them; an output's options are applied in
// order before that output is opened. Several outputs are made in one run from the same
// decoded sources.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"

namespace {
using Option = std::pair<std::string, std::string>;

Option SplitOption(const std::string& text) {
    auto eq = text.find('=');
    if (eq == std::string::npos) return {text, ""};
    return {text.substr(0, eq), text.substr(eq + 1)};
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}
}  // namespace

int EngineCommand(const TCommandLine& line) {
    struct Input {
        std::vector<Option> options;
        std::string name;
    };
    struct Output {
        std::string name;
        std::vector<Option> options;
    };
    std::vector<Input> inputs;
    std::vector<Option> pending;
    std::vector<Output> outputs;
    bool join = false;
    // Order matters here: an input option belongs to the input after it, and what follows
    // the output is the output's options.
    for (const TCliArgument& a : line.Arguments) {
        if (a.Option == "--input-option") {
            pending.push_back(SplitOption(a.Value));
        } else if (a.Option == "--join") {
            join = true;
        } else if (a.Option == "-o") {
            outputs.push_back({a.Value, {}});
        } else if (!a.Option.empty()) {
            continue;  // --engine itself
        } else if (outputs.empty()) {
            inputs.push_back({std::move(pending), a.Value});
            pending.clear();
        } else {
            outputs.back().options.push_back(SplitOption(a.Value));
        }
    }
    const bool unnamed = std::any_of(outputs.begin(), outputs.end(), [](const Output& o) { return o.name.empty(); });
    if (inputs.empty() || outputs.empty() || unnamed) {
        std::fprintf(stderr,
                     "usage: reelshift-cli --engine [--input-option KEY=VALUE]... INPUT [INPUT...] [--join] "
                     "-o OUTPUT [KEY=VALUE]... [-o OUTPUT [KEY=VALUE]...]...\n");
        return 2;
    }
    if (!FFLoader().LoadLibrarySet(EngineLibraries)) return Fail(FFLoader().LastError());

    TFFLogger& logger = FFLogger();
    logger.TriggerEventInMainThread = false;
    logger.SetLogLevel(llInfo);
    logger.OnLog = [](const void*, TThreadID, TLogLevel level, const std::string& msg) {
        if (level <= llInfo) std::printf("%s\n", msg.c_str());
    };
    logger.Attach();

    TCustomFFmpeg task;
    task.OnProgress = [](const TEngineProgress&, const std::string& line) { std::printf("%s\r", line.c_str()); std::fflush(stdout); };
    try {
        for (const auto& in : inputs) {
            for (const auto& [k, v] : in.options) task.ParseOption(k, v);
            if (!task.OpenInput(in.name)) return Fail(task.ErrorText());
        }
        for (const Output& out : outputs) {
            for (const auto& [k, v] : out.options) task.ParseOption(k, v);
            if (task.OpenOutput(out.name, join) < 0) return Fail(task.ErrorText());
        }
        bool finished = task.Transcode();
        std::printf("\n%s\n", task.LastReportLine().c_str());
        std::printf("dup=%lld drop=%lld\n", (long long)task.DupCount(), (long long)task.DropCount());
        task.CloseAll();
        logger.OnLog = nullptr;
        return finished ? 0 : 1;
    } catch (const std::exception& e) {
        try {
            task.CloseAll();
        } catch (...) {
        }
        logger.OnLog = nullptr;
        return Fail(e.what());
    }
}

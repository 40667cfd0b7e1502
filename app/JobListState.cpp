#include "app/JobListState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cstdlib>
#include <limits>
#include <filesystem>

#include "edits/JobRanges.h"

namespace {

constexpr int FileVersion = 1;

// The record's whole-number fields by name; the names are the file's keys.
struct IntField {
    const char* Name;
    int32_t TlvFilesRecord::*Member;
};
const IntField IntFields[] = {
    {"CropMarginTop", &TlvFilesRecord::CropMarginTop},       {"CropMarginLeft", &TlvFilesRecord::CropMarginLeft},
    {"CropMarginBottom", &TlvFilesRecord::CropMarginBottom}, {"CropMarginRight", &TlvFilesRecord::CropMarginRight},
    {"CropEditTop", &TlvFilesRecord::CropEditTop},           {"CropEditLeft", &TlvFilesRecord::CropEditLeft},
    {"CropEditBottom", &TlvFilesRecord::CropEditBottom},     {"CropEditRight", &TlvFilesRecord::CropEditRight},
    {"TextLeft", &TlvFilesRecord::TextLeft},                 {"TextTop", &TlvFilesRecord::TextTop},
    {"TextSliderX", &TlvFilesRecord::TextSliderX},           {"TextSliderY", &TlvFilesRecord::TextSliderY},
    {"ImageLeft", &TlvFilesRecord::ImageLeft},               {"ImageTop", &TlvFilesRecord::ImageTop},
    {"ImageSliderX", &TlvFilesRecord::ImageSliderX},         {"ImageSliderY", &TlvFilesRecord::ImageSliderY},
    {"ImageAlpha", &TlvFilesRecord::ImageAlpha},             {"TransparentStyle", &TlvFilesRecord::TransparentStyle},
    {"Brightness", &TlvFilesRecord::Brightness},             {"Contrast", &TlvFilesRecord::Contrast},
    {"Saturation", &TlvFilesRecord::Saturation},             {"Exposure", &TlvFilesRecord::Exposure},
};

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QJsonValue& v) { return v.toString().toStdString(); }

// A path is bytes; JSON text is characters. A path that is not UTF-8 is written as its
// characters (U+FFFD for the bytes that are not) to be read by eye, and its bytes beside it
// under NAME + "Bytes" in base64.
QString BytesKey(const char* name) { return QString(name) + "Bytes"; }
void PutPath(QJsonObject& o, const char* name, const std::string& path) {
    o[name] = Q(path);
    if (Q(path).toStdString() != path) o[BytesKey(name)] = QString::fromLatin1(QByteArray::fromStdString(path).toBase64());
}

QJsonObject RecordToJson(const TlvFilesRecord& r) {
    QJsonObject o;
    PutPath(o, "SourceFile", r.SourceFile);
    // Microsecond values can exceed a double's exact range only far beyond any real file.
    o["TrimStart"] = double(r.TrimStart);
    o["TrimLength"] = double(r.TrimLength);
    o["ZoomMode"] = Q(r.ZoomMode);
    o["WatermarkText"] = Q(r.WatermarkText);
    PutPath(o, "WatermarkImage", r.WatermarkImage);
    o["ProcessText"] = r.ProcessText;
    o["ProcessImage"] = r.ProcessImage;
    for (const IntField& f : IntFields) o[f.Name] = r.*f.Member;
    const TJobFont& font = r.WatermarkFont;
    o["Font"] = QJsonObject{{"Name", Q(font.Name)},     {"Size", font.Size},         {"Color", double(font.Color)},
                            {"Bold", font.Bold},        {"Italic", font.Italic},     {"Underline", font.Underline},
                            {"StrikeOut", font.StrikeOut}};
    return o;
}

// Reads the values of one object, each of the kind it must be; a value of another kind
// keeps the record's default and is noted.
class TFieldReader {
public:
    TFieldReader(const QJsonObject& o, std::vector<std::string>& notes, std::string prefix = {})
        : FObject(o), FNotes(notes), FPrefix(std::move(prefix)) {}

    void Text(const char* name, std::string& into) {
        if (!Present(name)) return;
        if (FObject[name].isString()) into = S(FObject[name]);
        else Wrong(name, "text");
    }
    // A path: its bytes when they are given and decode to the text, else the text.
    void Path(const char* name, std::string& into) {
        Text(name, into);
        const QString key = BytesKey(name);
        if (!FObject.contains(key) || !FObject[name].isString()) return;
        const auto bytes = QByteArray::fromBase64Encoding(FObject[key].toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        if (FObject[key].isString() && bytes && QString::fromUtf8(*bytes) == FObject[name].toString())
            into = (*bytes).toStdString();
        else
            FNotes.push_back(FPrefix + key.toStdString() + " does not hold the bytes of " + name + "; " + name +
                             " is used as written.");
    }
    void Flag(const char* name, bool& into) {
        if (!Present(name)) return;
        if (FObject[name].isBool()) into = FObject[name].toBool();
        else Wrong(name, "true or false");
    }
    template <typename T>
    void Whole(const char* name, T& into) {
        if (!Present(name)) return;
        const QJsonValue v = FObject[name];
        const double d = v.toDouble();
        // Whole numbers within the field's type only: a cast of anything else is undefined.
        if (v.isDouble() && std::isfinite(d) && d == std::trunc(d) && d >= double(std::numeric_limits<T>::min()) &&
            d <= double(std::numeric_limits<T>::max()) && std::fabs(d) <= 9007199254740992.0)
            into = T(d);
        else
            Wrong(name, "a whole number in range");
    }
    bool Present(const char* name) const { return FObject.contains(name) && !FObject[name].isNull(); }
    void Wrong(const char* name, const char* kind) {
        FNotes.push_back(FPrefix + name + " " + ValueText(FObject[name]) + " is not " + kind + "; the default is used.");
    }

private:
    static std::string ValueText(const QJsonValue& v) {
        if (v.isString()) return "\"" + S(v) + "\"";
        if (v.isDouble()) return QString::number(v.toDouble(), 'g', 17).toStdString();
        if (v.isBool()) return v.toBool() ? "true" : "false";
        if (v.isArray()) return "(a list)";
        if (v.isObject()) return "(a group of values)";
        return "(nothing)";
    }
    const QJsonObject& FObject;
    std::vector<std::string>& FNotes;
    std::string FPrefix;
};

TlvFilesRecord RecordFromJson(const QJsonObject& o, std::vector<std::string>& notes) {
    TlvFilesRecord r;
    TFieldReader read(o, notes);
    read.Path("SourceFile", r.SourceFile);
    read.Whole("TrimStart", r.TrimStart);
    read.Whole("TrimLength", r.TrimLength);
    read.Text("ZoomMode", r.ZoomMode);
    read.Text("WatermarkText", r.WatermarkText);
    read.Path("WatermarkImage", r.WatermarkImage);
    read.Flag("ProcessText", r.ProcessText);
    read.Flag("ProcessImage", r.ProcessImage);
    for (const IntField& f : IntFields) read.Whole(f.Name, r.*f.Member);
    if (read.Present("Font") && !o["Font"].isObject()) read.Wrong("Font", "a font");
    const QJsonObject font = o["Font"].toObject();
    TJobFont& out = r.WatermarkFont;
    TFieldReader readFont(font, notes, "Font ");
    readFont.Text("Name", out.Name);
    readFont.Whole("Size", out.Size);
    readFont.Whole("Color", out.Color);
    readFont.Flag("Bold", out.Bold);
    readFont.Flag("Italic", out.Italic);
    readFont.Flag("Underline", out.Underline);
    readFont.Flag("StrikeOut", out.StrikeOut);
    // Then the ranges of the dialogs: a watermark far outside the frame, a negative trim.
    KeepJobInRange(r, [&](const std::string& line) { notes.push_back(line); });
    return r;
}

}  // namespace

TJobListState::TJobListState(std::string path) : FPath(std::move(path)) {}

struct TJobListState::TLock {
    explicit TLock(int fd) : Fd(fd) {}
    ~TLock() { ::close(Fd); }  // closing lets the lock go
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    const int Fd;
};

bool TJobListState::Claim() {
    if (FLock) return true;
    const std::string first = FPath;
    const std::string stem = first.size() > 5 && first.ends_with(".json") ? first.substr(0, first.size() - 5) : first;
    QDir().mkpath(QFileInfo(Q(first)).absolutePath());
    for (int slot = 1; slot <= 9; ++slot) {
        const std::string path = slot == 1 ? first : stem + "-" + std::to_string(slot) + ".json";
        const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            FLock = std::make_shared<TLock>(fd);
            FPath = path;
            return true;
        }
        ::close(fd);
    }
    return false;
}

std::string TJobListState::DefaultPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/state";
    else
        base = ".";
    return base + "/reelshift/joblist.json";
}

bool TJobListState::Save(const std::vector<TSavedJob>& jobs, const std::string& runFolder) const {
    QJsonArray rows;
    for (const TSavedJob& job : jobs) {
        QJsonObject row{{"Record", RecordToJson(job.Record)},
                        {"Checked", job.Checked},
                        {"Length", Q(job.Length)},
                        {"TrimmedLength", Q(job.TrimmedLength)},
                        {"Progress", Q(job.Progress)}};
        PutPath(row, "Destination", job.Destination);
        rows.append(row);
    }
    QJsonObject top{{"version", FileVersion}, {"jobs", rows}};
    if (!runFolder.empty()) PutPath(top, "runFolder", runFolder);
    const QJsonDocument doc(top);
    const QString path = Q(FPath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);  // written beside and renamed over the old file on commit
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(doc.toJson(QJsonDocument::Compact));
    return file.commit();
}

std::optional<std::vector<TSavedJob>> TJobListState::Load() const {
    QFile file(Q(FPath));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    std::vector<TSavedJob> jobs;
    for (const QJsonValue& value : doc.object()["jobs"].toArray()) {
        const QJsonObject row = value.toObject();
        TSavedJob job;
        job.Record = RecordFromJson(row["Record"].toObject(), job.Notes);
        if (job.Record.SourceFile.empty()) continue;
        TFieldReader read(row, job.Notes);
        read.Flag("Checked", job.Checked);
        read.Text("Length", job.Length);
        read.Text("TrimmedLength", job.TrimmedLength);
        read.Path("Destination", job.Destination);
        read.Text("Progress", job.Progress);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::string TJobListState::LoadRunFolder() const {
    QFile file(Q(FPath));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) return {};
    std::string folder;
    std::vector<std::string> notes;
    const QJsonObject top = doc.object();
    TFieldReader(top, notes).Path("runFolder", folder);
    return folder;
}

bool TJobListState::Exists() const { return QFileInfo::exists(Q(FPath)); }

void TJobListState::Remove() const { QFile::remove(Q(FPath)); }

TRestorableJobs SplitBySourcePresence(const std::vector<TSavedJob>& jobs) {
    TRestorableJobs split;
    std::error_code ec;
    for (const TSavedJob& job : jobs) {
        if (std::filesystem::is_regular_file(job.Record.SourceFile, ec))
            split.Present.push_back(job);
        else
            split.MissingSources.push_back(job.Record.SourceFile);
    }
    return split;
}

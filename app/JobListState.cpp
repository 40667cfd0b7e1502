#include "app/JobListState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdlib>
#include <filesystem>

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

QJsonObject RecordToJson(const TlvFilesRecord& r) {
    QJsonObject o;
    o["SourceFile"] = Q(r.SourceFile);
    // Microsecond values can exceed a double's exact range only far beyond any real file.
    o["TrimStart"] = double(r.TrimStart);
    o["TrimLength"] = double(r.TrimLength);
    o["ZoomMode"] = Q(r.ZoomMode);
    o["WatermarkText"] = Q(r.WatermarkText);
    o["WatermarkImage"] = Q(r.WatermarkImage);
    o["ProcessText"] = r.ProcessText;
    o["ProcessImage"] = r.ProcessImage;
    for (const IntField& f : IntFields) o[f.Name] = r.*f.Member;
    const TJobFont& font = r.WatermarkFont;
    o["Font"] = QJsonObject{{"Name", Q(font.Name)},     {"Size", font.Size},         {"Color", double(font.Color)},
                            {"Bold", font.Bold},        {"Italic", font.Italic},     {"Underline", font.Underline},
                            {"StrikeOut", font.StrikeOut}};
    return o;
}

TlvFilesRecord RecordFromJson(const QJsonObject& o) {
    TlvFilesRecord r;
    r.SourceFile = S(o["SourceFile"]);
    r.TrimStart = int64_t(o["TrimStart"].toDouble());
    r.TrimLength = int64_t(o["TrimLength"].toDouble());
    if (o.contains("ZoomMode")) r.ZoomMode = S(o["ZoomMode"]);
    r.WatermarkText = S(o["WatermarkText"]);
    r.WatermarkImage = S(o["WatermarkImage"]);
    r.ProcessText = o["ProcessText"].toBool();
    r.ProcessImage = o["ProcessImage"].toBool();
    for (const IntField& f : IntFields)
        if (o.contains(f.Name)) r.*f.Member = o[f.Name].toInt();
    const QJsonObject font = o["Font"].toObject();
    TJobFont& out = r.WatermarkFont;
    if (font.contains("Name")) out.Name = S(font["Name"]);
    if (font.contains("Size")) out.Size = font["Size"].toInt();
    out.Color = uint32_t(font["Color"].toDouble());
    out.Bold = font["Bold"].toBool();
    out.Italic = font["Italic"].toBool();
    out.Underline = font["Underline"].toBool();
    out.StrikeOut = font["StrikeOut"].toBool();
    return r;
}

}  // namespace

TJobListState::TJobListState(std::string path) : FPath(std::move(path)) {}

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
    for (const TSavedJob& job : jobs)
        rows.append(QJsonObject{{"Record", RecordToJson(job.Record)},
                                {"Checked", job.Checked},
                                {"Length", Q(job.Length)},
                                {"TrimmedLength", Q(job.TrimmedLength)},
                                {"Destination", Q(job.Destination)},
                                {"Progress", Q(job.Progress)}});
    QJsonObject top{{"version", FileVersion}, {"jobs", rows}};
    if (!runFolder.empty()) top["runFolder"] = Q(runFolder);
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
        job.Record = RecordFromJson(row["Record"].toObject());
        if (job.Record.SourceFile.empty()) continue;
        job.Checked = row["Checked"].toBool(true);
        job.Length = S(row["Length"]);
        job.TrimmedLength = S(row["TrimmedLength"]);
        job.Destination = S(row["Destination"]);
        job.Progress = S(row["Progress"]);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::string TJobListState::LoadRunFolder() const {
    QFile file(Q(FPath));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    return doc.isObject() ? S(doc.object()["runFolder"]) : std::string();
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

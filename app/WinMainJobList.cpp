// The main window's job list: adding, removing, checking, and its menus.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QToolBar>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "app/JobList.h"
#include "app/MessageBoxes.h"
#include "app/WinMain.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "platform/qt/FileNames.h"
#include "platform/SettingsKeys.h"
#include "player/AVProbe.h"
#include "player/ui/PreviewControls.h"

void TfrmMain::CreatePopupMenu() {
    pmnFiles = new QMenu(this);
    pmnFiles->setObjectName("pmnFiles");
    auto add = [&](const char* name, const QString& text, void (TfrmMain::*click)()) {
        QAction* action = pmnFiles->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, click);
        return action;
    };
    add("pmnAdd", "Add", &TfrmMain::AddWithDialog);
    add("pmnAddFolder", "Add Folder...", &TfrmMain::AddFolderWithDialog);
    add("pmnRemove", "Remove", &TfrmMain::btnRemoveClick);
    add("pmnClear", "Clear", &TfrmMain::btnClearClick);
    pmnFiles->addSeparator();
    add("pmnCrop", "&Crop", &TfrmMain::mnuCropClick);
    add("pmnTrim", "&Trim", &TfrmMain::mnuTrimClick);
    add("pmnEffect", "&Video Effect && Water Mark", &TfrmMain::mnuEffectClick);
    add("pmnInfo", "Video Infomation", &TfrmMain::mnuVideoInfoClick);
    pmnFiles->addSeparator();
    add("pmnStart", "Start", &TfrmMain::btnStartClick);
    connect(pmnFiles, &QMenu::aboutToShow, this, &TfrmMain::pmnFilesShow);
}

void TfrmMain::EnableCommand(TCommand command, bool enabled) {
    switch (command) {
        case cmdAdd:
            btnAdd->setEnabled(enabled);
            mnuAdd->setEnabled(enabled);
            break;
        case cmdRemove:
            btnRemove->setEnabled(enabled);
            mnuRemove->setEnabled(enabled);
            break;
        case cmdClear:
            btnClear->setEnabled(enabled);
            mnuClear->setEnabled(enabled);
            break;
        case cmdStart:
            btnStartTool->setEnabled(enabled);
            mnuStart->setEnabled(enabled);
            btnStart->setEnabled(enabled);
            break;
    }
}

bool TfrmMain::RowSelected() const { return lvFiles->RowCount() > 0 && lvFiles->SelectedIndex() >= 0; }

namespace {
// The files of folder that the add filter takes and whose names Qt cannot list.
std::vector<std::string> UnlistedFiles(const std::string& folder);
}  // namespace

void TfrmMain::AddWithDialog() {
    if (!FCCAVC.LoadLibraries(DefaultLibraryFolder())) return;
    if (FAddFolder.isEmpty()) FAddFolder = QDir::homePath();
    // Qt's own dialog: it takes typed paths, several at once in quotes, on every desktop.
    QFileDialog dialog(this, "Open", FAddFolder);
    dialog.setObjectName("dlgOpen");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(FileDialogFilters(AddFilesFilter(CompiledEdition())));
    dialog.setSizeGripEnabled(true);
    // Qt's listing leaves out names that are not UTF-8: the folder's such files are offered
    // under the list, by a button that adds them.
    auto* unlistedButton = new QPushButton(&dialog);
    unlistedButton->setObjectName("btnAddUnlisted");
    unlistedButton->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(unlistedButton, grid->rowCount(), 0, 1, grid->columnCount());
    std::vector<std::string> unlisted;
    auto look = [&](const QString& folder) {
        unlisted = UnlistedFiles(PathBytes(folder));
        QStringList names;
        for (const std::string& file : unlisted) names << QFileInfo(DisplayPath(file)).fileName();
        const QString shown = QFontMetrics(unlistedButton->font()).elidedText(names.join(", "), Qt::ElideRight, 400);
        unlistedButton->setText(QString("Add %1 %2 the list cannot show: %3")
                                    .arg(unlisted.size())
                                    .arg(unlisted.size() == 1 ? "file whose name" : "files whose names")
                                    .arg(shown));
        unlistedButton->setVisible(!unlisted.empty());
    };
    // The list's model follows every change of folder, typed, clicked or set.
    if (auto* model = dialog.findChild<QFileSystemModel*>())
        connect(model, &QFileSystemModel::rootPathChanged, unlistedButton, look);
    bool addUnlisted = false;
    connect(unlistedButton, &QPushButton::clicked, &dialog, [&] {
        addUnlisted = true;
        dialog.reject();  // the dialog's own selection is not taken
    });
    look(dialog.directory().absolutePath());
    const int answer = dialog.exec();
    activateWindow();  // the keys come back here even where no window manager hands them over
    if (addUnlisted) {
        FAddFolder = dialog.directory().absolutePath();
        AddFiles(unlisted);
        return;
    }
    if (answer != QDialog::Accepted) return;
    FAddFolder = dialog.directory().absolutePath();
    AddFiles(dialog.selectedFiles());
}

namespace {

// What Add needs of a file: whether it holds something to convert, and its length.
struct TProbedFile {
    bool Read = false;  // probed (a cancelled Add leaves the rest unread)
    bool Media = false;
    int64_t Duration = -1;
};

// The extensions the edition's add filter takes, lower case; the catch-all "*.*" is left
// out, so that a folder's other files are told apart.
QSet<QString> AddFilterExtensions() {
    QSet<QString> extensions;
    const QStringList parts = QString::fromStdString(AddFilesFilter(CompiledEdition())).split('|');
    for (int i = 1; i < parts.size(); i += 2)
        for (const QString& pattern : parts[i].split(';', Qt::SkipEmptyParts))
            if (pattern.startsWith("*.") && pattern != "*.*") extensions.insert(pattern.mid(2).toLower());
    return extensions;
}

// Every file below folder, in name order (whole paths compared, so a folder's files stay
// together). Read as bytes: Qt's listings leave out names that are not UTF-8. As Qt's
// would, hidden entries are passed over and linked folders are not entered.
std::vector<std::string> FilesBelow(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with('.')) {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink(ec)) it.disable_recursion_pending();
        if (it->is_regular_file(ec)) files.push_back(it->path().string());
    }
    std::vector<std::pair<QString, std::string>> shown;
    for (std::string& file : files) shown.emplace_back(DisplayPath(file), std::move(file));
    std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
        const int c = QString::compare(a.first, b.first, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    files.clear();
    for (auto& [text, file] : shown) files.push_back(std::move(file));
    return files;
}

std::vector<std::string> UnlistedFiles(const std::string& folder) {
    std::vector<std::string> files;
    const QSet<QString> extensions = AddFilterExtensions();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (DecodesWhole(name) || name.starts_with('.') || !it->is_regular_file(ec)) continue;
        if (extensions.contains(QFileInfo(DisplayPath(name)).suffix().toLower())) files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// path made absolute and without "." and ".." parts or a trailing slash, as bytes.
std::string AbsolutePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string out = fs::absolute(fs::path(path), ec).lexically_normal().string();
    if (ec) out = path;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

void TfrmMain::AddFolderWithDialog() {
    if (!FCCAVC.LoadLibraries(DefaultLibraryFolder())) return;
    if (FAddFolder.isEmpty()) FAddFolder = QDir::homePath();
    QFileDialog dialog(this, "Add Folder", FAddFolder);
    dialog.setObjectName("dlgAddFolder");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const int answer = dialog.exec();
    activateWindow();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    FAddFolder = dialog.selectedFiles().first();
    AddFiles(dialog.selectedFiles());
}

int TfrmMain::AddFiles(const QStringList& paths) {
    std::vector<std::string> bytes;
    for (const QString& path : paths) {
        // Two names that decode alike are two different files: each takes the next match.
        auto chosen = [&](const std::string& p) {
            return lvFiles->HasSource(p) || std::find(bytes.begin(), bytes.end(), p) != bytes.end();
        };
        bytes.push_back(PathBytes(QFileInfo(path).isAbsolute() || path.isEmpty() ? path : QFileInfo(path).absoluteFilePath(),
                                  chosen));
    }
    return AddFiles(bytes);
}

int TfrmMain::AddFiles(const std::vector<std::string>& paths) {
    if (!FGlobal || FRunning) return 0;
    if (!FCCAVC.LoadLibraries(DefaultLibraryFolder())) return 0;
    FCCAVC.ClearTasks();
    IniFile settings(FSettingsFile);
    const int code = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    const std::string zoom = StoredZoomMode(code, settings);

    // A folder stands for the files below it that the add filter takes; the others are told
    // of once, at the end.
    const QSet<QString> extensions = AddFilterExtensions();
    std::vector<std::string> names;
    QStringList notTaken;
    std::set<std::string> seen;
    auto take = [&](const std::string& path) {
        if (lvFiles->HasSource(path) || !seen.insert(path).second) return;
        names.push_back(path);
    };
    for (const std::string& given : paths) {
        if (given.empty()) continue;
        std::error_code ec;
        if (std::filesystem::is_directory(given, ec)) {
            for (const std::string& file : FilesBelow(AbsolutePath(given))) {
                if (extensions.contains(QFileInfo(DisplayPath(file)).suffix().toLower()))
                    take(file);
                else
                    notTaken << DisplayPath(file);
            }
            continue;
        }
        take(given.front() == '/' ? given : AbsolutePath(given));
    }

    // Reading a file's streams is the only work Add does: a few files at once, each on a
    // thread with a probe of its own; the rows then go in in the order chosen. The window
    // keeps painting and a long Add can be cancelled.
    std::vector<TProbedFile> probed(names.size());
    std::atomic<size_t> next{0}, done{0}, workersDone{0};
    std::atomic<bool> cancel{false};
    auto probeSome = [&] {
        TAVProbe probe;
        for (size_t i; !cancel && (i = next++) < names.size(); ++done) {
            probed[i].Read = true;
            if (!probe.LoadFile(names[i])) continue;
            probed[i].Media = HasConvertibleStream(probe);
            probed[i].Duration = probe.FileStreamInfo().Duration;
            probe.CloseFile();
        }
        ++workersDone;
    };
    if (names.size() < 4) {
        probeSome();
    } else {
        const size_t threads = std::min<size_t>(names.size(), std::max(2u, std::thread::hardware_concurrency()));
        std::vector<std::thread> workers;
        for (size_t t = 0; t < threads; ++t) workers.emplace_back(probeSome);
        QProgressDialog progress("Adding files...", "Cancel", 0, int(names.size()), this);
        progress.setObjectName("dlgAddProgress");
        progress.setWindowTitle("Add");
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(400);
        size_t shown = SIZE_MAX;
        while (done < names.size() && !(cancel = cancel || progress.wasCanceled())) {
            // How many of how many: a bar alone does not tell a large folder from a slow one.
            if (const size_t now = done; now != shown) {
                shown = now;
                progress.setLabelText(QString("Adding files... %1 of %2").arg(now).arg(names.size()));
                progress.setValue(int(now));
            }
            // Probes may log, which waits for this thread: serve it while waiting.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
            TheMainThread().ServePending();
        }
        while (workersDone < threads) {
            TheMainThread().ServePending();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        for (auto& w : workers) w.join();
        progress.reset();
    }

    int added = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!probed[i].Read || !probed[i].Media) continue;
        const std::string& source = names[i];
        EnableCommand(cmdStart, true);
        TlvFilesRecord record;
        record.SourceFile = source;
        record.ZoomMode = zoom;
        auto* row = new TJobRow(record);
        const QString seconds = QString::fromStdString(WholeSecondsText(probed[i].Duration));
        row->setText(TJobRow::colSource, DisplayPath(source));  // bytes that are not UTF-8 as U+FFFD
        row->setText(TJobRow::colLength, seconds);
        row->setText(TJobRow::colTrimmed, seconds);
        lvFiles->addTopLevelItem(row);
        if (lvFiles->RowCount() == 1) lvFiles->CreateColumns();
        EnableCommand(cmdClear, true);
        EnableCommand(cmdRemove, true);
        ++added;
    }
    if (added > 0) {
        RefreshDestinations();  // the names the run will write, as it would write them now
        lvFiles->SelectRow(0);
        lvFiles->setFocus();
        lvFiles->viewport()->update();
    }
    if (!notTaken.isEmpty()) {
        const int shown = std::min<int>(notTaken.size(), 20);
        QString text = QString("%1 %2 in the folder %3 not of a kind this program converts and %4 skipped:\n")
                           .arg(notTaken.size())
                           .arg(notTaken.size() == 1 ? "file" : "files")
                           .arg(notTaken.size() == 1 ? "is" : "are")
                           .arg(notTaken.size() == 1 ? "was" : "were");
        for (int i = 0; i < shown; ++i) text += "\n" + notTaken[i];
        if (notTaken.size() > shown) text += QString("\n... and %1 more").arg(notTaken.size() - shown);
        MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", text);
    }
    return added;
}

TlvFilesRecord* TfrmMain::JobRecord(int row) {
    TJobRow* item = lvFiles->Row(row);
    return item ? &item->Record : nullptr;
}

TlvFilesRecord* TfrmMain::SelectedJobRecord() { return JobRecord(lvFiles->SelectedIndex()); }

void TfrmMain::btnRemoveClick() {
    const int index = lvFiles->SelectedIndex();
    if (index < 0 || FRunning) return;
    delete lvFiles->takeTopLevelItem(index);  // the row takes its record with it
    RefreshDestinations();
    const int count = lvFiles->RowCount();
    lvFiles->SelectRow(count == 0 ? -1 : std::min(index, count - 1));
    if (count == 0) StopPreview();
    lvFiles->viewport()->update();
}

void TfrmMain::btnClearClick() {
    if (lvFiles->RowCount() == 0 || FRunning) return;
    FCCAVC.ClearTasks();
    lvFiles->clear();
    StopPreview();
}

void TfrmMain::mnuCheckAllClick() {
    for (int i = 0; i < lvFiles->RowCount(); ++i) lvFiles->Row(i)->SetChecked(true);
}

void TfrmMain::mnuUncheckAllClick() {
    for (int i = 0; i < lvFiles->RowCount(); ++i) lvFiles->Row(i)->SetChecked(false);
}

void TfrmMain::mnuReverseCheckClick() {
    for (int i = 0; i < lvFiles->RowCount(); ++i) lvFiles->Row(i)->SetChecked(!lvFiles->Row(i)->Checked());
}

void TfrmMain::mnuCheckClick() {
    if (TJobRow* row = lvFiles->Row(lvFiles->SelectedIndex())) row->SetChecked(true);
}

void TfrmMain::mnuUncheckClick() {
    if (TJobRow* row = lvFiles->Row(lvFiles->SelectedIndex())) row->SetChecked(false);
}

void TfrmMain::mnuEditShow() {
    const bool ready = RowSelected();
    for (QAction* action : mnuEdit->actions()) {
        if (action->isSeparator()) continue;
        action->setEnabled(ready);
    }
    if (QAction* effect = findChild<QAction*>("mnuEffect")) effect->setVisible(true);
}

void TfrmMain::pmnFilesShow() {
    const bool ready = RowSelected();
    for (QAction* action : pmnFiles->actions()) {
        if (action->isSeparator()) continue;
        if (action->objectName() == "pmnAdd" || action->objectName() == "pmnAddFolder") action->setEnabled(true);
        else
            action->setEnabled(ready);
    }
    if (QAction* effect = pmnFiles->findChild<QAction*>("pmnEffect")) effect->setVisible(true);
}

void TfrmMain::lvFilesPopup(const QPoint& position) { pmnFiles->popup(lvFiles->viewport()->mapToGlobal(position)); }

void TfrmMain::btnEditClick() {
    QWidget* button = tlbMain->widgetForAction(btnEdit);
    const QPoint below = button ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos();
    pmnFiles->popup(below);
}

void TfrmMain::StopPreview() {
    if (FPreview) FPreview->StopPreview();
}

std::string TfrmMain::PreviewSource() {
    if (lvFiles->RowCount() == 0) return {};
    if (lvFiles->SelectedIndex() < 0) lvFiles->SelectRow(0);
    const TlvFilesRecord* job = SelectedJobRecord();
    return job ? job->SourceFile : std::string();
}

// The main window's job list: adding, removing, checking, and its menus.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>

#include <algorithm>

#include "app/JobList.h"
#include "app/WinMain.h"
#include "engine/FFmpegLoader.h"
#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
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
    const int answer = dialog.exec();
    activateWindow();  // the keys come back here even where no window manager hands them over
    if (answer != QDialog::Accepted) return;
    FAddFolder = dialog.directory().absolutePath();
    AddFiles(dialog.selectedFiles());
}

int TfrmMain::AddFiles(const QStringList& paths) {
    if (!FGlobal || FRunning) return 0;
    if (!FCCAVC.LoadLibraries(DefaultLibraryFolder())) return 0;
    FCCAVC.ClearTasks();
    FCCAVC.SetOpenOnStart(false);  // the task is made to open the file now
    IniFile settings(FSettingsFile);
    const int code = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    const std::string zoom = StoredZoomMode(code, settings);

    int added = 0;
    for (const QString& given : paths) {
        const QFileInfo info(given);
        if (given.isEmpty() || info.isDir()) continue;
        const QString path = info.isAbsolute() ? given : info.absoluteFilePath();
        if (lvFiles->HasSource(path)) continue;
        const std::string source = path.toStdString();
        // The name the run will write, as it would be written now.
        const std::string destination = RunOutputFile(source);

        TInputOptions input;
        input.FileName = source;
        const int task = FCCAVC.AddTask(source, &input);
        if (task < 0) continue;
        TAVProbe* probe = FCCAVC.InputProbe(task, 0);
        if (!probe || !HasConvertibleStream(*probe)) {
            FCCAVC.ClearTasks();
            continue;
        }
        EnableCommand(cmdStart, true);

        TlvFilesRecord record;
        record.SourceFile = source;
        record.ZoomMode = zoom;
        auto* row = new TJobRow(record);
        const QString seconds = QString::fromStdString(WholeSecondsText(probe->FileStreamInfo().Duration));
        row->setText(TJobRow::colSource, path);
        row->setText(TJobRow::colLength, seconds);
        row->setText(TJobRow::colTrimmed, seconds);
        row->setText(TJobRow::colDestination, QFileInfo(QString::fromStdString(destination)).fileName());
        lvFiles->addTopLevelItem(row);
        if (lvFiles->RowCount() == 1) lvFiles->CreateColumns();

        EnableCommand(cmdClear, true);
        EnableCommand(cmdRemove, true);
        FCCAVC.RemoveTask(task);
        FCCAVC.ClearTasks();
        ++added;
    }
    if (added > 0) {
        lvFiles->SelectRow(0);
        lvFiles->setFocus();
        lvFiles->viewport()->update();
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
        if (action->objectName() == "pmnAdd") action->setEnabled(true);
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

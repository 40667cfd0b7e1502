#include "app/WinMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>
#include <set>

#include "app/Application.h"
#include "app/Directory.h"
#include "app/JobList.h"
#include "app/MessageBoxes.h"
#include "app/UpdateCheck.h"
#include "app/WinAbout.h"
#include "app/WinFileInfo.h"
#include "app/PanelMessages.h"
#include "player/ui/PreviewControls.h"
#include "app/WinPreference.h"
#include "app/WinProgress.h"
#include "engine/FFmpegLoader.h"
#include "formats/Catalogue.h"
#include "formats/OutputName.h"
#include "formats/ui/FormatListBox.h"
#include "formats/ui/ParameterPanel.h"
#include "formats/ui/WinSettings.h"
#include "platform/IniFile.h"
#include "platform/qt/FileNames.h"
#include "platform/SettingsKeys.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/Shell.h"
#include "skin/Skin.h"

namespace {

const char* const StartFormatName = "iPod Video MPEG-4";
const QColor BoxColour(246, 247, 248);

QAction* AddAction(QMenu* menu, const char* name, const QString& text, bool enabled = true) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setEnabled(enabled);
    return action;
}

// A control whose behaviour arrives with a later window: shown, greyed out.
template <typename T>
T* Later(T* widget, const char* name) {
    widget->setObjectName(name);
    widget->setEnabled(false);
    return widget;
}

}  // namespace

TfrmMain::TfrmMain(const TGlobalObject& global, QWidget* parent)
    : QMainWindow(parent), FGlobal(std::make_unique<TGlobalObject>(global)), FSettingsFile(global.SettingsFile()) {
    setObjectName("frmMain");
    SetApplicationTitle(QString::fromStdString(FGlobal->Title()));
    setWindowTitle(QString::fromStdString(FGlobal->Title()));

    CreateMenus();
    CreateToolBar();

    auto* central = new QWidget(this);
    central->setObjectName("pnlMain");
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(CreateJobList(), 1);
    top->addWidget(CreatePreview(), 0);
    layout->addLayout(top, 1);
    layout->addWidget(CreateParameterPanel());
    layout->addWidget(CreateFormatAndFolder());
    mmoLog = new QPlainTextEdit(central);
    mmoLog->setObjectName("mmoLog");
    mmoLog->setReadOnly(true);
    mmoLog->hide();
    FPreview->SetLogList(mmoLog);
    setCentralWidget(central);

    lst1 = new TFormatListBox(central);
    lst1->SetSettingsFile(FSettingsFile);
    lst1->SetFormatBox(edt1, imgbtn1);
    connect(lst1, &TFormatListBox::FormatPicked, this, &TfrmMain::lst1FormatPicked);

    ApplyStoredSkin();

    FCCAVC.SetPreviewBitmap(true);
    FCCAVC.OnProgress = [this](TCustomFFmpegVCL* sender, PProgressInfo info) { CCAVCProgress(sender, info); };
    FCCAVC.OnPreviewBitmap = [this](TCustomFFmpegVCL* sender, const TPreviewInfo& info) {
        CCAVCPreviewBitmap(sender, info);
    };
    FCCAVC.OnCustomHook = [this](TCustomFFmpegVCL* sender, PHookInfo info) { CCAVCCustomHook(sender, info); };
    // End reports come from short-lived threads: their handling is queued for this thread, in
    // the order they came, and dropped if the window is gone by then.
    FCCAVC.OnTerminate = [this](TCustomFFmpegVCL* sender, const TTerminateInfo& info) {
        QMetaObject::invokeMethod(this, [this, sender, info] { CCAVCTerminate(sender, info); }, Qt::QueuedConnection);
    };

    // The preview's media libraries; a failure is only logged, the window still opens.
    TFFmpegLoader& loader = FFLoader();
    if (!loader.LibrarySetLoaded(PlayerLibraries)) {
        if (loader.LibraryFolder().empty()) loader.SetLibraryFolder(ProgramFolder() + "/LibAV");
        if (!loader.LoadLibrarySet(PlayerLibraries)) mmoLog->appendPlainText(QString::fromStdString(loader.LastError()));
    }
    resize(DefaultWidth, DefaultHeight);
}

TfrmMain::~TfrmMain() {
    DetachEngine();
    // The secondary windows talk to the component and this window: they go first.
    delete FProgress;
    delete FPreference;
    delete FDirectory;
}

void TfrmMain::DetachEngine() {
    // Stopped first: the workers read these handlers while they run. What they still
    // report meanwhile is handled as usual, or dropped with this window.
    FCCAVC.StopTask(true);
    FCCAVC.OnCustomHook = nullptr;
    FCCAVC.OnProgress = nullptr;
    FCCAVC.OnPreviewBitmap = nullptr;
    FCCAVC.OnTerminate = nullptr;
}

void TfrmMain::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    mnuAdd = AddAction(file, "mnuAdd", "&Add");
    connect(AddAction(file, "mnuAddFolder", "Add &Folder..."), &QAction::triggered, this, &TfrmMain::AddFolderWithDialog);
    mnuRemove = AddAction(file, "mnuRemove", "&Remove", false);
    mnuClear = AddAction(file, "mnuClear", "&Clear", false);
    file->addSeparator();
    mnuStart = AddAction(file, "mnuStart", "&Start", false);
    connect(mnuAdd, &QAction::triggered, this, &TfrmMain::AddWithDialog);
    connect(mnuRemove, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
    connect(mnuClear, &QAction::triggered, this, &TfrmMain::btnClearClick);
    connect(mnuStart, &QAction::triggered, this, &TfrmMain::btnStartClick);
    connect(AddAction(file, "mnuSettings", "Se&ttings"), &QAction::triggered, this, &TfrmMain::mnuSettingsClick);
    file->addSeparator();
    connect(AddAction(file, "mnuExit", "&Exit"), &QAction::triggered, this, &QWidget::close);

    mnuEdit = menuBar()->addMenu("&Edit");
    mnuEdit->setObjectName("mnuEdit");
    QMenu* edit = mnuEdit;
    connect(AddAction(edit, "mnuCheckAll", "&Check All", false), &QAction::triggered, this,
            &TfrmMain::mnuCheckAllClick);
    connect(AddAction(edit, "mnuUncheckAll", "&Uncheck All", false), &QAction::triggered, this,
            &TfrmMain::mnuUncheckAllClick);
    connect(AddAction(edit, "mnuReverseCheck", "&Reverse Check", false), &QAction::triggered, this,
            &TfrmMain::mnuReverseCheckClick);
    edit->addSeparator();
    connect(AddAction(edit, "mnuCheck", "C&heck", false), &QAction::triggered, this, &TfrmMain::mnuCheckClick);
    connect(AddAction(edit, "mnuUncheck", "U&ncheck", false), &QAction::triggered, this, &TfrmMain::mnuUncheckClick);
    edit->addSeparator();
    connect(AddAction(edit, "mnuCrop", "&Crop", false), &QAction::triggered, this, &TfrmMain::mnuCropClick);
    connect(AddAction(edit, "mnuTrim", "&Trim", false), &QAction::triggered, this, &TfrmMain::mnuTrimClick);
    connect(AddAction(edit, "mnuEffect", "&Video Effect && Water Mark", false), &QAction::triggered, this,
            &TfrmMain::mnuEffectClick);
    connect(edit, &QMenu::aboutToShow, this, &TfrmMain::mnuEditShow);

    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->setObjectName("mnuTools");
    connect(AddAction(tools, "mnuPreference", "&Preference"), &QAction::triggered, this,
            &TfrmMain::mnuPreferenceClick);
    mnuSkin = tools->addMenu("&Skin");
    mnuSkin->setObjectName("mnuSkin");
    for (int i = 0; i < skin::SkinCount; ++i) {
        QAction* item = mnuSkin->addAction(skin::SkinName(i));
        item->setObjectName(QStringLiteral("mnuSkin%1").arg(i));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, i] { mnuSkinItemClick(i); });
        mnuSkinItems[size_t(i)] = item;
    }
    connect(mnuSkin, &QMenu::aboutToShow, this, &TfrmMain::mnuSkinShow);

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelpMenu");
    connect(AddAction(help, "mnuHelp", "&Help"), &QAction::triggered, this, &TfrmMain::mnuHelpClick);
    connect(AddAction(help, "mnuWebSite", "&Web Site"), &QAction::triggered, this, &TfrmMain::mnuWebSiteClick);
    connect(AddAction(help, "mnuSupport", "&Support and Contact"), &QAction::triggered, this,
            &TfrmMain::mnuSupportClick);
    help->addSeparator();
    connect(AddAction(help, "mnuAbout", "&About"), &QAction::triggered, this, &TfrmMain::mnuAboutClick);

    QMenu* related = menuBar()->addMenu("Related Software");
    related->setObjectName("mnuRelated");
    const bool video = CompiledEdition() == TEdition::Video;
    for (const TRelatedProduct& product : RelatedProducts(video)) {
        QAction* item = related->addAction(QString::fromStdString(product.Caption));
        const std::string address = product.Address;
        connect(item, &QAction::triggered, this, [this, address] {
            if (FGlobal) shell::OpenWebAddress(address + "?" + FGlobal->Title());
        });
    }
}

void TfrmMain::CreateToolBar() {
    QToolBar* bar = tlbMain = addToolBar("Tools");
    bar->setObjectName("tlbMain");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(20, 20));
    QStyle* st = style();
    auto addButton = [&](const char* name, const QString& text, QStyle::StandardPixmap icon, bool enabled) {
        QAction* action = bar->addAction(st->standardIcon(icon), text);
        action->setObjectName(name);
        action->setEnabled(enabled);
        return action;
    };
    btnAdd = addButton("btnAdd", "&Add", QStyle::SP_FileDialogNewFolder, true);
    btnRemove = addButton("btnRemove", "&Remove", QStyle::SP_DialogDiscardButton, false);
    btnClear = addButton("btnClear", "&Clear", QStyle::SP_DialogResetButton, false);
    btnEdit = addButton("btnEdit", "&Edit", QStyle::SP_FileDialogDetailedView, true);
    bar->addSeparator();
    btnStartTool = addButton("btnStartTool", "&Start", QStyle::SP_MediaPlay, false);
    connect(btnAdd, &QAction::triggered, this, &TfrmMain::AddWithDialog);
    connect(btnRemove, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
    connect(btnClear, &QAction::triggered, this, &TfrmMain::btnClearClick);
    connect(btnEdit, &QAction::triggered, this, &TfrmMain::btnEditClick);
    connect(btnStartTool, &QAction::triggered, this, &TfrmMain::btnStartClick);
    connect(addButton("btnSettings", "&Settings", QStyle::SP_FileDialogInfoView, true), &QAction::triggered, this,
            &TfrmMain::mnuSettingsClick);
    bar->addSeparator();
    connect(addButton("btnExit", "&Exit", QStyle::SP_DialogCloseButton, true), &QAction::triggered, this,
            &QWidget::close);
}

QWidget* TfrmMain::CreateJobList() {
    lvFiles = new TJobListView;
    connect(lvFiles, &TJobListView::FilesDropped, this, [this](const QList<QByteArray>& paths) {
        std::vector<std::string> bytes;
        for (const QByteArray& path : paths) bytes.push_back(path.toStdString());
        AddFiles(bytes);
    });
    connect(lvFiles, &QTreeWidget::itemDoubleClicked, this, [this] { lvFilesDoubleClick(); });
    WatchJobList();
    connect(lvFiles, &TJobListView::PopupRequested, this, &TfrmMain::lvFilesPopup);
    CreatePopupMenu();
    return lvFiles;
}

QWidget* TfrmMain::CreatePreview() {
    FPreview = new TPreviewControls(FSettingsFile);
    FPreview->WarningBox = [this](const QString& caption, const QString& text) {
        MessageBoxes().Show(this, TMessageIcon::Warning, caption, text);
    };
    FPreview->SelectedSource = [this] { return PreviewSource(); };
    FPreview->RequestAdd = [this] {
        const int before = lvFiles->RowCount();
        AddWithDialog();
        return lvFiles->RowCount() > before;
    };
    grpPreview = FPreview;
    pan1 = FPreview->pan1;
    imgbtnPlay = FPreview->imgbtnPlay;
    imgbtnPAuse = FPreview->imgbtnPAuse;
    imgbtnStop = FPreview->imgbtnStop;
    imgbtnSnap = FPreview->imgbtnSnap;
    trcPreview = FPreview->trcPreview;
    lblTime = FPreview->lblTime;
    lblPTS = FPreview->lblPTS;
    trcVolume = FPreview->trcVolume;
    ckMute = FPreview->ckMute;
    return grpPreview;
}

QWidget* TfrmMain::CreateParameterPanel() {
    pnlParameters = new TParameterPanel(TParameterPanel::pmAtOnce);
    pnlParameters->SetFormatFile(FGlobal->FormatFile());
    pnlParameters->SetStore(std::make_unique<TSettingsFileStore>(FSettingsFile));
    pnlParameters->SetMessages(TAppPanelMessages::Instance());
    pnlParameters->OnNote = [this](const QString& line) { mmoLog->appendPlainText(line); };
    return pnlParameters;
}

QWidget* TfrmMain::CreateFormatAndFolder() {
    auto* panel = new QWidget;
    panel->setObjectName("pnlOutput");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);

    grid->addWidget(new QLabel("Output Format:"), 0, 0);
    auto* formatRow = new QHBoxLayout;
    formatRow->setSpacing(0);
    edt1 = new QLineEdit;
    edt1->setObjectName("edt1");
    edt1->setReadOnly(true);
    edt1->setFocusPolicy(Qt::NoFocus);  // a picker, not a text field: no caret
    edt1->setCursor(Qt::ArrowCursor);
    edt1->setContextMenuPolicy(Qt::NoContextMenu);
    imgbtn1 = new QToolButton;
    imgbtn1->setObjectName("imgbtn1");
    imgbtn1->setArrowType(Qt::UpArrow);
    imgbtn1->setFocusPolicy(Qt::NoFocus);
    imgbtn1->setFixedWidth(22);
    formatRow->addWidget(edt1, 1);
    formatRow->addWidget(imgbtn1);
    grid->addLayout(formatRow, 0, 1, 1, 3);

    cbOutputFormat = new QComboBox(panel);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->hide();
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, &TfrmMain::cbOutputFormatChange);

    grid->addWidget(new QLabel("Output Folder:"), 1, 0);
    edtOutputDir = new QLineEdit;
    edtOutputDir->setObjectName("edtOutputDir");
    edtOutputDir->setReadOnly(true);
    QPalette pal = edtOutputDir->palette();
    pal.setColor(QPalette::Base, BoxColour);
    edtOutputDir->setPalette(pal);
    connect(edtOutputDir, &QLineEdit::textChanged, this, &TfrmMain::edtOutputDirChange);
    grid->addWidget(edtOutputDir, 1, 1);
    btnBrows = new QPushButton("Brows");
    btnBrows->setObjectName("btnBrows");
    connect(btnBrows, &QPushButton::clicked, this, &TfrmMain::btnBrowsClick);
    grid->addWidget(btnBrows, 1, 2);
    btnOpen = new QPushButton("Open");
    btnOpen->setObjectName("btnOpen");
    connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    grid->addWidget(btnOpen, 1, 3);

    btnStart = Later(new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), "&Start"), "btnStart");
    connect(btnStart, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
    btnStart->setIconSize(QSize(22, 22));
    btnStart->setMinimumSize(110, 0);
    btnStart->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    QFont bold = btnStart->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    btnStart->setFont(bold);
    grid->addWidget(btnStart, 0, 4, 2, 1);
    grid->setColumnStretch(1, 1);

    // The run's own buttons live in the progress window; these keep their states unseen.
    auto runButton = [&](const char* name, const QString& text, void (TfrmMain::*click)()) {
        auto* b = Later(new QPushButton(text, panel), name);
        b->hide();
        connect(b, &QPushButton::clicked, this, click);
        return b;
    };
    btnStop = runButton("btnStop", "Stop", &TfrmMain::btnStopClick);
    btnPause = runButton("btnPause", "Pause", &TfrmMain::btnPauseClick);
    btnResume = runButton("btnResume", "Resume", &TfrmMain::btnResumeClick);
    return panel;
}

void TfrmMain::ApplyStoredSkin() {
    // A stored number outside the range leaves the look the program started with.
    skin::ApplySkin(IniFile(FSettingsFile).ReadInteger(settings_key::Section, settings_key::SkinIndex, 0));
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShownOnce) {
        FShownOnce = true;
        FirstShow();
    }
}

void TfrmMain::FirstShow() {
    resize(DefaultWidth, DefaultHeight);
    IniFile settings(FSettingsFile);
    const TEdition edition = CompiledEdition();

    // The older flat list of formats; it takes no part in choosing one.
    {
        const QSignalBlocker quiet(cbOutputFormat);
        cbOutputFormat->clear();
        for (int code : CatalogueFormatCodes(edition))
            cbOutputFormat->addItem(QString::fromStdString(CatalogueFormatName(edition, code)));
        cbOutputFormat->setMaxVisibleItems(std::min(cbOutputFormat->count(), 20));
        cbOutputFormat->setCurrentIndex(settings.ReadInteger(settings_key::Section, settings_key::FlatListIndex, 0));
    }

    // The box stores every change, so a fresh settings file gets the folder at once.
    edtOutputDir->setText(QString::fromStdString(StoredOutputFolder(settings)));

    // A code that names no format of this edition (a fresh start of the MP4-to-AVI edition,
    // whose catalogue has no code 1) would convert with no definition at all; start from the
    // edition's first format instead, as if the user had picked it.
    const int storedCode = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    if (CatalogueFormatName(edition, storedCode).empty()) {
        const int first = CatalogueFormatCodes(edition).front();
        settings.WriteString(settings_key::Section, settings_key::FormatCode, std::to_string(first));
        settings.WriteString(settings_key::Section, settings_key::FormatName, CatalogueFormatName(edition, first));
    }
    FFormatCode = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatCode, "1"));
    FFormatName = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatName, StartFormatName));

    int volume = settings.ReadInteger(settings_key::Section, settings_key::Volume, 0);
    if (volume < 0 || volume > 128) volume = 64;
    trcVolume->setRange(0, 128);
    trcVolume->setValue(volume);
    const int mute = settings.ReadInteger(settings_key::Section, settings_key::Mute, 0);
    if (mute == 1) ckMute->setChecked(true);
    else if (mute == 0) ckMute->setChecked(false);

    FGlobal->SetVersionText(CompiledVersionText());
    setWindowTitle(QString::fromStdString(FGlobal->Title() + FGlobal->VersionText()));

    lst1->SetEdition(edition);
    lst1->BuildCatalogue();
    ReloadParameters();

    // Once the window is on screen, so that it paints while the feed is fetched.
    QTimer::singleShot(0, this, &TfrmMain::AfterFirstShow);
}

void TfrmMain::UpdateCheck() {
    if (!FGlobal) return;
    FCloseForUpdate = false;
    TUpdateCheckResult update = RunUpdateCheck(UpdateCheckSettings(*FGlobal), this);
    SetAdList(std::move(update.AdList));
    SetLatestVersion(update.LatestVersion);
    if (update.CloseForUpgrade) CloseForUpdate();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!FCloseForUpdate &&
        !MessageBoxes().AskYesNo(this, "Warning", "Do you really want to exit?")) {
        event->ignore();
        return;
    }
    lst1->HideList();
    lst1->SaveCollapseState();
    ForgetJobList();  // a clean exit: nothing to offer back at the next start
    DetachEngine();
    StopPreview();
    FPreviewBitmap = QImage();
    FTaskMap.clear();
    FTaskJobs.clear();
    FGlobal.reset();
    event->accept();
}

void TfrmMain::CloseForUpdate() {
    FCloseForUpdate = true;
    close();
}

std::string TfrmMain::RunOutputFile(const std::string& source,
                                    const std::function<bool(const std::string&)>& alsoTaken) {
    IniFile settings(FSettingsFile);
    const IniFile formatFile(FGlobal->FormatFile());
    const int code = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    std::string path = RunOutputFileName(
        settings, formatFile, code, source,
        [this](const std::string& text) {
            MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", QString::fromStdString(text));
        },
        alsoTaken);
    // After a fallback the box shows the folder now in use.
    const QString stored = QString::fromStdString(StoredOutputFolder(settings));
    if (edtOutputDir->text() != stored) edtOutputDir->setText(stored);
    return path;
}

void TfrmMain::RefreshDestinations() {
    // A folder fallback inside changes the folder box, which would start another round.
    if (!FGlobal || FRefreshingDestinations || FRunning) return;
    FRefreshingDestinations = true;
    // The checked rows get distinct names, as the run gives them.
    std::set<std::string> planned;
    auto plannedAlready = [&planned](const std::string& path) { return planned.count(path) > 0; };
    for (int i = 0; i < lvFiles->RowCount(); ++i) {
        TJobRow* row = lvFiles->Row(i);
        const std::string path =
            RunOutputFile(row->Record.SourceFile, row->Checked() ? plannedAlready : std::function<bool(const std::string&)>());
        if (row->Checked()) planned.insert(path);
        row->DestinationName = std::filesystem::path(path).filename().string();
        const QString name = DisplayPath(row->DestinationName);
        if (row->text(TJobRow::colDestination) != name) row->setText(TJobRow::colDestination, name);
    }
    FRefreshingDestinations = false;
}

void TfrmMain::mnuSkinShow() {
    const int stored = IniFile(FSettingsFile).ReadInteger(settings_key::Section, settings_key::SkinIndex, 0);
    for (int i = 0; i < skin::SkinCount; ++i) mnuSkinItems[size_t(i)]->setChecked(i == stored);
}

void TfrmMain::mnuSkinItemClick(int index) {
    QAction* chosen = mnuSkinItems[size_t(index)];
    // The action has already flipped its check: unchecked now means it was the checked one.
    if (!chosen->isChecked()) {
        chosen->setChecked(true);
        return;
    }
    hide();
    skin::ApplySkin(index);
    for (int i = 0; i < skin::SkinCount; ++i) mnuSkinItems[size_t(i)]->setChecked(i == index);
    show();
    IniFile(FSettingsFile).WriteInteger(settings_key::Section, settings_key::SkinIndex, index);
}

void TfrmMain::mnuHelpClick() {
    if (FGlobal) shell::OpenWebAddress(FGlobal->HelpAddress());
}

void TfrmMain::mnuWebSiteClick() {
    if (FGlobal) shell::OpenWebAddress(FGlobal->WebSiteAddress());
}

void TfrmMain::mnuSupportClick() {
    shell::OpenWebAddress(EditionWebAddresses(CompiledEdition() == TEdition::Video).Support);
}

void TfrmMain::mnuAboutClick() {
    if (!FGlobal) return;
    if (!frmAbout) frmAbout = new TfrmAbout(this);
    frmAbout->ShowAbout(*FGlobal);
}

void TfrmMain::ShowFileInfo(const std::string& source) {
    if (!frmFileInfo) frmFileInfo = new TfrmFileInfo(this);
    frmFileInfo->ShowFileInfo(source);
}

void TfrmMain::edtOutputDirChange(const QString& text) {
    IniFile(FSettingsFile).WriteString(settings_key::Section, settings_key::OutputFolder, text.toStdString());
    RefreshDestinations();
}

void TfrmMain::btnOpenClick() {
    if (edtOutputDir->text().size() <= 2) return;
    shell::OpenFolder(StoredOutputFolder(IniFile(FSettingsFile)));
}

void TfrmMain::btnBrowsClick() {
    TfrmDirectory& chooser = FolderChooser();
    chooser.exec();
    activateWindow();
    const QString chosen = QString::fromStdString(chooser.ChosenPath());
    if (!chosen.isEmpty() && chosen != edtOutputDir->text()) edtOutputDir->setText(chosen);  // stored by the box
}

TfrmDirectory& TfrmMain::FolderChooser() {
    if (!FDirectory) FDirectory = new TfrmDirectory(this);
    return *FDirectory;
}

TfrmPreference& TfrmMain::Preferences() {
    if (!FPreference) FPreference = new TfrmPreference(this, FSettingsFile, FolderChooser());
    return *FPreference;
}

void TfrmMain::mnuPreferenceClick() {
    Preferences().exec();
    activateWindow();
}

void TfrmMain::cbOutputFormatChange(int index) {
    IniFile(FSettingsFile).WriteInteger(settings_key::Section, settings_key::FlatListIndex, index);
    ReloadParameters();
}

void TfrmMain::lst1FormatPicked(const QString& name, int code) {
    FFormatName = name;
    FFormatCode = QString::number(code);
    ReloadParameters();
    RefreshDestinations();
}

void TfrmMain::ReloadParameters() { pnlParameters->Load(FFormatCode); }

void TfrmMain::mnuSettingsClick() {
    lst1->HideList();
    lst1->SaveCollapseState();
    if (!frmSettings) {
        frmSettings = new TfrmSettings(FSettingsFile, FGlobal->FormatFile(), this);
        frmSettings->SetEdition(CompiledEdition());
        frmSettings->SetMessages(TAppPanelMessages::Instance());
        frmSettings->OnOutputFormatIndex = [this](int index) { cbOutputFormat->setCurrentIndex(index); };
        frmSettings->OnFormatsStored = [this] {
            lst1->BuildCatalogue();
            const IniFile settings(FSettingsFile);
            FFormatCode = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatCode, "1"));
            FFormatName = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatName, StartFormatName));
            ReloadParameters();
            RefreshDestinations();
        };
    }
    frmSettings->exec();
}

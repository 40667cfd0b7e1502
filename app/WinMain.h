#pragma once
// The main window: menus, the tool bar, the job list, the preview, the parameter panel, the
// format picker and the output folder. It owns the application state object for its life.
#include <QMainWindow>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/AdInfo.h"
#include "app/GlobalUnit.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolButton;
class QTreeWidget;
class TFormatListBox;
class TfrmAbout;
class TfrmFileInfo;
class TParameterPanel;
class TfrmSettings;
class TPreviewControls;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 786;
    static constexpr int DefaultHeight = 522;

    // Takes the state object of the edition: its title becomes the application title, the
    // stored skin is applied and the preview's media libraries are loaded.
    explicit TfrmMain(const TGlobalObject& global, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Null once the window has closed.
    const TGlobalObject* Global() const { return FGlobal.get(); }

    // The output path for a source file (see OutputFileName in formats/OutputName.h); the
    // folder warning is shown as a message box.
    std::string OutputFileName(const std::string& source, const std::string& suffix);

    const QString& CurrentFormatName() const { return FFormatName; }
    const QString& CurrentFormatCode() const { return FFormatCode; }

    // Closes without the exit question (the update check asks for this).
    void CloseForUpdate();

    TFormatListBox* FormatList() const { return lst1; }
    TParameterPanel* ParameterPanel() const { return pnlParameters; }

    // The promotional messages and the latest version named by the update check.
    const std::vector<TAdInfo>& AdList() const { return FAdList; }
    void SetAdList(std::vector<TAdInfo> list) { FAdList = std::move(list); }
    const std::string& LatestVersion() const { return FLatestVersion; }
    void SetLatestVersion(std::string version) { FLatestVersion = std::move(version); }

    // The file information window for a job's source file (empty: no job selected).
    void ShowFileInfo(const std::string& source);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    QWidget* CreateJobList();
    QWidget* CreatePreview();
    QWidget* CreateParameterPanel();
    QWidget* CreateFormatAndFolder();
    void FirstShow();
    void ApplyStoredSkin();
    void UpdateCheck();

    // Handlers.
    void mnuSkinShow();
    void mnuSkinItemClick(int index);
    void mnuHelpClick();
    void mnuWebSiteClick();
    void mnuSupportClick();
    void mnuAboutClick();
    void edtOutputDirChange(const QString& text);
    void btnOpenClick();
    void cbOutputFormatChange(int index);
    void lst1FormatPicked(const QString& name, int code);
    void mnuSettingsClick();
    void ReloadParameters();

    std::unique_ptr<TGlobalObject> FGlobal;
    std::string FSettingsFile;  // kept for the closing steps after the state object is freed
    bool FShownOnce = false;
    bool FCloseForUpdate = false;
    QString FFormatName;
    QString FFormatCode;
    std::vector<TAdInfo> FAdList;
    std::string FLatestVersion;
    TfrmAbout* frmAbout = nullptr;        // made on first use
    TfrmFileInfo* frmFileInfo = nullptr;  // made on first use

    QMenu* mnuSkin = nullptr;
    std::array<QAction*, 7> mnuSkinItems{};

    QTreeWidget* lvFiles = nullptr;
    QPlainTextEdit* mmoLog = nullptr;
    TPreviewControls* FPreview = nullptr;  // the preview group and its player
    QGroupBox* grpPreview = nullptr;
    QWidget* pan1 = nullptr;
    QToolButton* imgbtnPlay = nullptr;
    QToolButton* imgbtnPAuse = nullptr;
    QToolButton* imgbtnStop = nullptr;
    QToolButton* imgbtnSnap = nullptr;
    QSlider* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    QSlider* trcVolume = nullptr;
    QCheckBox* ckMute = nullptr;
    TParameterPanel* pnlParameters = nullptr;
    TfrmSettings* frmSettings = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    TFormatListBox* lst1 = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnStart = nullptr;
};

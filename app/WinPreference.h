#pragma once
// Preferences: the snapshot folder, sizes, formats and JPEG quality, the priority of the
// conversion worker and the picture's automatic steps. Only "&Ok" stores, except the folder chosen with "&Brows", which is
// stored at once.
#include <QDialog>

#include <string>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class TfrmDirectory;

class TfrmPreference : public QDialog {
    Q_OBJECT
public:
    static constexpr int FormWidth = 480;
    static constexpr int FormHeight = 390;

    // settingsFile: the file every showing reads and "&Ok" writes. chooser: the folder
    // chooser shared with the main window.
    TfrmPreference(QWidget* owner, std::string settingsFile, TfrmDirectory& chooser);

    void btnOkClick();
    void btnCancelClick();
    void btnDefaultClick();
    void btnBrowsClick();
    void btnOpenClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Load();
    // Clicking the only checked box of a pair leaves it checked.
    void KeepOneChecked(QCheckBox* clicked, QCheckBox* other);
    void EnableQuality(bool enabled);
    void SelectPriority(int index);

    std::string FSettingsFile;
    TfrmDirectory& FChooser;

    QLineEdit* edtSnapDir = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnBrows = nullptr;
    QCheckBox* ckFullSize = nullptr;
    QCheckBox* ckSmallSize = nullptr;
    QCheckBox* ckBmp = nullptr;
    QCheckBox* ckJpg = nullptr;
    QSpinBox* spnJpgQuality = nullptr;
    QSlider* trcJpgQuality = nullptr;
    QButtonGroup* rgPriority = nullptr;
    QCheckBox* ckAutoRotate = nullptr;
    QCheckBox* ckAutoDeinterlace = nullptr;
    QCheckBox* ckAutoToneMap = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnDefault = nullptr;
};

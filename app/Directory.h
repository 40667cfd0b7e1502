#pragma once
// The folder chooser "Brows": a tree of the file system's folders with Ok and Cancel. It
// keeps one result, the chosen folder (empty when nothing was chosen). A folder on an
// optical disc is refused, as output cannot be written there.
#include <QDialog>

#include <string>

class QFileSystemModel;
class QPushButton;
class QTreeView;

class TfrmDirectory : public QDialog {
    Q_OBJECT
public:
    static constexpr int FormWidth = 322;
    static constexpr int FormHeight = 351;
    static constexpr const char* OpticalDiscRefusal =
        "Output folder cannot be located in CD-ROM.Please select another folder.";

    explicit TfrmDirectory(QWidget* owner);

    const std::string& ChosenPath() const { return FChosenPath; }

    // Selects the folder in the tree (expanding its parents); false when it is not there.
    bool SelectFolder(const std::string& path);
    // The selected folder's path; empty without a selection.
    std::string SelectedFolder() const;

    void btnOkClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateOk();

    std::string FChosenPath;
    QFileSystemModel* FModel = nullptr;
    QTreeView* tvFolders = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

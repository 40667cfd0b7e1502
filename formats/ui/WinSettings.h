#pragma once
// The settings dialog: a second format picker and a second copy of the parameter boxes.
// Its boxes hold pending values only; "&Ok" stores them for the dialog's format and makes
// that format the main window's, "&Cancel" stores nothing.
#include <QDialog>
#include <QString>

#include <functional>
#include <string>

#include "formats/Edition.h"
#include "formats/ParameterStore.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class TFormatListBox;
class TPanelMessages;
class TParameterPanel;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    static constexpr int DialogWidth = 475;
    static constexpr int DialogHeight = 370;

    explicit TfrmSettings(const std::string& settingsFile, const std::string& formatFile,
                          QWidget* parent = nullptr);
    ~TfrmSettings() override;

    void SetEdition(TEdition edition);
    void SetMessages(TPanelMessages& messages);

    // The main window's part of "&Ok", in this order: its hidden legacy format box takes the
    // dialog's index; then, after everything is stored, it rebuilds its format list and panel.
    std::function<void(int index)> OnOutputFormatIndex;
    std::function<void()> OnFormatsStored;

    TParameterPanel* Panel() const { return FPanel; }
    TFormatListBox* FormatList() const { return lst1; }
    const QString& CurrentFormatName() const { return FFormatName; }
    const QString& CurrentFormatCode() const { return FFormatCode; }

    void btnOkClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Prepare();
    void lst1FormatPicked(const QString& name, int code);

    std::string FSettingsFile;
    std::string FFormatFile;
    TEdition FEdition;
    TPendingStore FStore;
    QString FFormatName;
    QString FFormatCode;

    TParameterPanel* FPanel = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    TFormatListBox* lst1 = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

#include "formats/ui/WinSettings.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "formats/Catalogue.h"
#include "formats/ui/FormatListBox.h"
#include "formats/ui/ParameterPanel.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

namespace {

const char* const StartFormatName = "iPod Video MPEG-4";

}  // namespace

TfrmSettings::TfrmSettings(const std::string& settingsFile, const std::string& formatFile, QWidget* parent)
    : QDialog(parent), FSettingsFile(settingsFile), FFormatFile(formatFile), FEdition(CompiledEdition()),
      FStore(settingsFile) {
    setObjectName("frmSettings");
    setWindowTitle("Settings");
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    FPanel = new TParameterPanel(TParameterPanel::pmPending, this);
    FPanel->SetFormatFile(formatFile);
    FPanel->SetStore(FStore);
    layout->addWidget(FPanel, 1);

    auto* formatRow = new QHBoxLayout;
    formatRow->setSpacing(0);
    auto* formatLabel = new QLabel("Output Format:");
    formatRow->addWidget(formatLabel);
    formatRow->addSpacing(6);
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
    layout->addLayout(formatRow);

    cbOutputFormat = new QComboBox(this);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(FPanel->DefaultButton());
    buttons->addStretch(1);
    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setAutoDefault(false);
    btnCancel = new QPushButton("&Cancel");
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAutoDefault(false);
    FPanel->DefaultButton()->setAutoDefault(false);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    lst1 = new TFormatListBox(this);
    lst1->SetSettingsFile(settingsFile);
    lst1->SetStoresChoice(false);
    lst1->SetFormatBox(edt1, imgbtn1);
    connect(lst1, &TFormatListBox::FormatPicked, this, &TfrmSettings::lst1FormatPicked);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);

    resize(DialogWidth, DialogHeight);
}

TfrmSettings::~TfrmSettings() = default;

void TfrmSettings::SetEdition(TEdition edition) {
    FEdition = edition;
    lst1->SetEdition(edition);
}

void TfrmSettings::SetMessages(TPanelMessages& messages) { FPanel->SetMessages(messages); }

void TfrmSettings::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Prepare();
}

void TfrmSettings::Prepare() {
    resize(DialogWidth, DialogHeight);
    FStore.Discard();
    const IniFile settings(FSettingsFile);

    {
        const QSignalBlocker quiet(cbOutputFormat);
        cbOutputFormat->clear();
        for (int code : CatalogueFormatCodes(FEdition))
            cbOutputFormat->addItem(QString::fromStdString(CatalogueFormatName(FEdition, code)));
        cbOutputFormat->setMaxVisibleItems(std::min(cbOutputFormat->count(), 20));
        cbOutputFormat->setCurrentIndex(settings.ReadInteger(settings_key::Section, settings_key::FlatListIndex, 0));
    }

    lst1->HideList();
    lst1->BuildCatalogue();
    FFormatCode = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatCode, "1"));
    FFormatName = QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::FormatName, StartFormatName));
    FPanel->ShowStored(FFormatCode);
}

void TfrmSettings::lst1FormatPicked(const QString& name, int code) {
    // Picking the format already shown changes nothing, typed values included.
    if (name == FFormatName && QString::number(code) == FFormatCode) return;
    FFormatName = name;
    FFormatCode = QString::number(code);
    FPanel->ChangeFormat(FFormatCode);
}

void TfrmSettings::btnOkClick() {
    // A value that does not pass its check is never stored; the box has its message.
    if (!FPanel->CheckTypedBoxes()) return;
    lst1->HideList();
    FStore.Discard();
    FStore.Write(FormatSectionName(FFormatCode.toInt()), "Description", FFormatName.toStdString());
    FPanel->StoreAll();
    FStore.Commit();

    if (OnOutputFormatIndex) OnOutputFormatIndex(cbOutputFormat->currentIndex());
    lst1->SaveCollapseState();
    IniFile settings(FSettingsFile);
    settings.WriteString(settings_key::Section, settings_key::FormatName, FFormatName.toStdString());
    settings.WriteString(settings_key::Section, settings_key::FormatCode, FFormatCode.toStdString());
    if (OnFormatsStored) OnFormatsStored();
    accept();
}

void TfrmSettings::btnCancelClick() {
    FStore.Discard();
    lst1->HideList();
    reject();
}

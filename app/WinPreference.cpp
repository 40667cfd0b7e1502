#include "app/WinPreference.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/Directory.h"
#include "formats/OutputName.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/qt/Shell.h"

namespace {

constexpr int DefaultQuality = 20;  // what "&Default" shows; a missing key reads as 30
const char* const QualityHint =
    "1 gives the smallest file and the poorest picture, 100 the best picture and the largest file.";

QCheckBox* Box(const QString& text, const char* name) {
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    return box;
}

}  // namespace

TfrmPreference::TfrmPreference(QWidget* owner, std::string settingsFile, TfrmDirectory& chooser)
    : QDialog(owner), FSettingsFile(std::move(settingsFile)), FChooser(chooser) {
    setObjectName("frmPreference");
    setWindowTitle("Preference");
    setFixedSize(FormWidth, FormHeight);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);

    auto* snapshot = new QGroupBox("Snapshot");
    snapshot->setObjectName("grpSnapshot");
    auto* grid = new QGridLayout(snapshot);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);

    grid->addWidget(new QLabel("Snapshot folder:"), 0, 0, 1, 2);
    auto* folderRow = new QHBoxLayout;
    edtSnapDir = new QLineEdit;
    edtSnapDir->setObjectName("edtSnapDir");
    edtSnapDir->setReadOnly(true);
    btnOpen = new QPushButton("&Open");
    btnOpen->setObjectName("btnOpen");
    btnBrows = new QPushButton("&Brows");
    btnBrows->setObjectName("btnBrows");
    folderRow->addWidget(edtSnapDir, 1);
    folderRow->addWidget(btnOpen);
    folderRow->addWidget(btnBrows);
    grid->addLayout(folderRow, 1, 0, 1, 2);

    grid->addWidget(new QLabel("Snapshot size:"), 2, 0);
    auto* sizeRow = new QHBoxLayout;
    ckFullSize = Box("Full Size", "ckFullSize");
    ckSmallSize = Box("Small Size", "ckSmallSize");
    sizeRow->addWidget(ckFullSize);
    sizeRow->addWidget(ckSmallSize);
    sizeRow->addStretch(1);
    grid->addLayout(sizeRow, 2, 1);

    grid->addWidget(new QLabel("Snapshot format:"), 3, 0);
    auto* formatRow = new QHBoxLayout;
    ckBmp = Box("BMP", "ckBmp");
    ckJpg = Box("JPG", "ckJpg");
    formatRow->addWidget(ckBmp);
    formatRow->addWidget(ckJpg);
    formatRow->addStretch(1);
    grid->addLayout(formatRow, 3, 1);

    grid->addWidget(new QLabel("Jpg Compression Quality:"), 4, 0);
    auto* qualityRow = new QHBoxLayout;
    spnJpgQuality = new QSpinBox;
    spnJpgQuality->setObjectName("spnJpgQuality");
    spnJpgQuality->setRange(1, 100);
    trcJpgQuality = new QSlider(Qt::Horizontal);
    trcJpgQuality->setObjectName("trcJpgQuality");
    trcJpgQuality->setRange(1, 100);
    trcJpgQuality->setTickInterval(10);
    trcJpgQuality->setTickPosition(QSlider::TicksBelow);
    for (QWidget* w : {static_cast<QWidget*>(spnJpgQuality), static_cast<QWidget*>(trcJpgQuality)})
        w->setToolTip(QualityHint);
    qualityRow->addWidget(spnJpgQuality);
    qualityRow->addWidget(trcJpgQuality, 1);
    grid->addLayout(qualityRow, 4, 1);
    auto* note = new QLabel("(The higher the value, the better the image quality.)");
    note->setObjectName("lblQualityNote");
    grid->addWidget(note, 5, 0, 1, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    layout->addWidget(snapshot);

    auto* priority = new QGroupBox("Work priority");
    priority->setObjectName("rgPriority");
    auto* priorityRow = new QHBoxLayout(priority);
    rgPriority = new QButtonGroup(this);
    const char* const names[] = {"Idle", "Normal", "Lower", "Lowest"};
    for (int i = 0; i < 4; ++i) {
        auto* item = new QRadioButton(names[i]);
        item->setObjectName(QStringLiteral("rbPriority%1").arg(i));
        rgPriority->addButton(item, i);
        priorityRow->addWidget(item);
    }
    layout->addWidget(priority);

    // The picture's automatic steps, for the rare job where the file's own flags are wrong.
    auto* picture = new QGroupBox("Picture");
    picture->setObjectName("grpPicture");
    auto* pictureRow = new QHBoxLayout(picture);
    ckAutoRotate = Box("Turn upright", "ckAutoRotate");
    ckAutoDeinterlace = Box("Deinterlace", "ckAutoDeinterlace");
    ckAutoToneMap = Box("HDR to SDR", "ckAutoToneMap");
    ckAutoRotate->setToolTip("Turn a picture that the file says is rotated (a phone held upright) the way it was filmed.");
    ckAutoDeinterlace->setToolTip("Deinterlace an interlaced source when the output is progressive.");
    ckAutoToneMap->setToolTip("Tone-map an HDR source (PQ or HLG) to ordinary colours when the output cannot keep HDR.");
    for (QCheckBox* box : {ckAutoRotate, ckAutoDeinterlace, ckAutoToneMap}) pictureRow->addWidget(box);
    layout->addWidget(picture);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    btnDefault = new QPushButton("&Default");
    btnDefault->setObjectName("btnDefault");
    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton("&Cancel");
    btnCancel->setObjectName("btnCancel");
    buttons->addWidget(btnDefault);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    connect(ckFullSize, &QCheckBox::clicked, this, [this] { KeepOneChecked(ckFullSize, ckSmallSize); });
    connect(ckSmallSize, &QCheckBox::clicked, this, [this] { KeepOneChecked(ckSmallSize, ckFullSize); });
    connect(ckBmp, &QCheckBox::clicked, this, [this] {
        KeepOneChecked(ckBmp, ckJpg);
        EnableQuality(ckJpg->isChecked());
    });
    connect(ckJpg, &QCheckBox::clicked, this, [this] {
        KeepOneChecked(ckJpg, ckBmp);
        EnableQuality(ckJpg->isChecked());
    });
    connect(spnJpgQuality, &QSpinBox::valueChanged, trcJpgQuality, &QSlider::setValue);
    connect(trcJpgQuality, &QSlider::valueChanged, spnJpgQuality, &QSpinBox::setValue);
    connect(btnOk, &QPushButton::clicked, this, &TfrmPreference::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmPreference::btnCancelClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmPreference::btnDefaultClick);
    connect(btnBrows, &QPushButton::clicked, this, &TfrmPreference::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmPreference::btnOpenClick);
}

void TfrmPreference::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Load();
}

void TfrmPreference::Load() {
    const IniFile settings(FSettingsFile);
    spnJpgQuality->setRange(1, 100);
    trcJpgQuality->setRange(1, 100);
    edtSnapDir->setText(QString::fromStdString(settings.ReadString(settings_key::Section, settings_key::SnapshotFolder, DefaultOutputFolder())));
    // Every box shows what is stored, so that "&Ok" never stores a choice nobody made.
    ckFullSize->setChecked(settings.ReadInteger(settings_key::Section, settings_key::SnapshotFullSize, 1) == 1);
    ckSmallSize->setChecked(settings.ReadInteger(settings_key::Section, settings_key::SnapshotSmallSize, 1) == 1);
    ckBmp->setChecked(settings.ReadInteger(settings_key::Section, settings_key::SnapshotBmp, 1) == 1);
    ckJpg->setChecked(settings.ReadInteger(settings_key::Section, settings_key::SnapshotJpg, 1) == 1);
    EnableQuality(ckJpg->isChecked());
    spnJpgQuality->setValue(settings.ReadInteger(settings_key::Section, settings_key::SnapshotJpgQuality, 30));
    SelectPriority(settings.ReadInteger(settings_key::Section, settings_key::Priority, 1));
    ckAutoRotate->setChecked(settings.ReadInteger(settings_key::Section, settings_key::AutoRotate, 1) != 0);
    ckAutoDeinterlace->setChecked(settings.ReadInteger(settings_key::Section, settings_key::AutoDeinterlace, 1) != 0);
    ckAutoToneMap->setChecked(settings.ReadInteger(settings_key::Section, settings_key::AutoToneMap, 1) != 0);
}

void TfrmPreference::KeepOneChecked(QCheckBox* clicked, QCheckBox* other) {
    if (!clicked->isChecked() && !other->isChecked()) clicked->setChecked(true);
}

void TfrmPreference::EnableQuality(bool enabled) {
    spnJpgQuality->setEnabled(enabled);
    trcJpgQuality->setEnabled(enabled);
}

void TfrmPreference::SelectPriority(int index) {
    // A stored value that names no item leaves all four clear.
    rgPriority->setExclusive(false);
    for (QAbstractButton* item : rgPriority->buttons()) item->setChecked(rgPriority->id(item) == index);
    rgPriority->setExclusive(true);
}

void TfrmPreference::btnOkClick() {
    IniFile settings(FSettingsFile);
    const std::string folder = edtSnapDir->text().toStdString();
    settings.WriteString(settings_key::Section, settings_key::SnapshotFolder, folder.empty() ? DefaultOutputFolder() : folder);
    settings.WriteInteger(settings_key::Section, settings_key::SnapshotBmp, ckBmp->isChecked() ? 1 : 0);
    settings.WriteInteger(settings_key::Section, settings_key::SnapshotJpg, ckJpg->isChecked() ? 1 : 0);
    settings.WriteInteger(settings_key::Section, settings_key::SnapshotFullSize, ckFullSize->isChecked() ? 1 : 0);
    settings.WriteInteger(settings_key::Section, settings_key::SnapshotSmallSize, ckSmallSize->isChecked() ? 1 : 0);
    if (spnJpgQuality->value() > 0) settings.WriteInteger(settings_key::Section, settings_key::SnapshotJpgQuality, spnJpgQuality->value());
    settings.WriteInteger(settings_key::Section, settings_key::Priority, rgPriority->checkedId());
    settings.WriteInteger(settings_key::Section, settings_key::AutoRotate, ckAutoRotate->isChecked() ? 1 : 0);
    settings.WriteInteger(settings_key::Section, settings_key::AutoDeinterlace, ckAutoDeinterlace->isChecked() ? 1 : 0);
    settings.WriteInteger(settings_key::Section, settings_key::AutoToneMap, ckAutoToneMap->isChecked() ? 1 : 0);
    accept();
}

void TfrmPreference::btnCancelClick() { reject(); }

void TfrmPreference::btnDefaultClick() {
    edtSnapDir->setText(QString::fromStdString(DefaultOutputFolder()));
    ckBmp->setChecked(true);
    ckJpg->setChecked(false);
    EnableQuality(false);
    ckFullSize->setChecked(true);
    ckSmallSize->setChecked(false);
    SelectPriority(1);
    spnJpgQuality->setValue(DefaultQuality);
    for (QCheckBox* box : {ckAutoRotate, ckAutoDeinterlace, ckAutoToneMap}) box->setChecked(true);
}

void TfrmPreference::btnBrowsClick() {
    FChooser.exec();
    const QString chosen = QString::fromStdString(FChooser.ChosenPath());
    if (chosen.isEmpty() || chosen == edtSnapDir->text()) return;
    IniFile(FSettingsFile).WriteString(settings_key::Section, settings_key::SnapshotFolder, chosen.toStdString());
    edtSnapDir->setText(chosen);
}

void TfrmPreference::btnOpenClick() {
    const std::string folder = IniFile(FSettingsFile).ReadString(settings_key::Section, settings_key::SnapshotFolder, DefaultOutputFolder());
    if (edtSnapDir->text().size() > 2) shell::OpenFolder(folder);
}

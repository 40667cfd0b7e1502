#include "app/Directory.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "platform/qt/FileSystems.h"

TfrmDirectory::TfrmDirectory(QWidget* owner) : QDialog(owner) {
    setObjectName("frmDirectory");
    setWindowTitle("Brows");
    setFixedSize(FormWidth, FormHeight);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    layout->addWidget(new QLabel("Please select an output directory:"));

    FModel = new QFileSystemModel(this);
    FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    FModel->setReadOnly(true);
    FModel->setRootPath(QDir::rootPath());

    tvFolders = new QTreeView;
    tvFolders->setObjectName("tvFolders");
    tvFolders->setModel(FModel);
    tvFolders->setHeaderHidden(true);
    for (int column = 1; column < FModel->columnCount(); ++column) tvFolders->hideColumn(column);
    tvFolders->setSelectionMode(QAbstractItemView::SingleSelection);
    tvFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvFolders->viewport()->installEventFilter(this);
    layout->addWidget(tvFolders, 1);
    connect(tvFolders->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateOk(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOk = new QPushButton("Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton("Cancel");
    btnCancel->setObjectName("btnCancel");
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    connect(btnOk, &QPushButton::clicked, this, &TfrmDirectory::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmDirectory::btnCancelClick);
}

void TfrmDirectory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FChosenPath.clear();
    // The home folder stands where a Windows program would start from the system drive.
    SelectFolder(QDir::homePath().toStdString());
    UpdateOk();
}

bool TfrmDirectory::SelectFolder(const std::string& path) {
    const QModelIndex index = FModel->index(QString::fromStdString(path));
    if (!index.isValid()) return false;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) tvFolders->expand(parent);
    tvFolders->setCurrentIndex(index);
    tvFolders->scrollTo(index);
    UpdateOk();
    return true;
}

std::string TfrmDirectory::SelectedFolder() const {
    const QModelIndex index = tvFolders->currentIndex();
    if (!index.isValid()) return {};
    return QDir::cleanPath(FModel->filePath(index)).toStdString();
}

void TfrmDirectory::UpdateOk() {
    // Every node of this tree is a real folder: only "nothing selected" leaves nothing to take.
    btnOk->setEnabled(tvFolders->currentIndex().isValid());
}

void TfrmDirectory::btnOkClick() {
    FChosenPath = SelectedFolder();
    if (FChosenPath.empty()) return;
    if (filesystems::IsOnOpticalDisc(FChosenPath)) {
        FChosenPath.clear();
        MessageBoxes().Show(this, TMessageIcon::Information, ApplicationTitle(), OpticalDiscRefusal);
        return;
    }
    accept();
}

void TfrmDirectory::btnCancelClick() {
    FChosenPath.clear();
    reject();
}

bool TfrmDirectory::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tvFolders->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            const QModelIndex index = tvFolders->indexAt(mouse->position().toPoint());
            if (index.isValid()) tvFolders->setCurrentIndex(index);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

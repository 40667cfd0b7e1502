#include "formats/ui/FormatListBox.h"

#include <QAbstractButton>
#include <QAbstractListModel>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

namespace {

// The name a fresh settings file offers; it names no row, so nothing is selected.
const char* const DefaultFormatName = "Apple iPod Video MPEG-4 Movie (*.mp4)";

const QColor ListColour(246, 247, 248);
const QColor FormatTextColour(0x00, 0x00, 0x80);

enum TRole { IsCategoryRole = Qt::UserRole + 1, CollapsedRole, CodeRole };

// The category's icon: a tinted tile with a film frame, or a note for audio groups.
QPixmap CategoryIcon(int code, const QString& name) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor tint = QColor::fromHsv((code * 53 + 210) % 360, 150, 200);
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, tint.lighter(125));
    g.setColorAt(1, tint.darker(115));
    p.setPen(QPen(tint.darker(150), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const bool audio = name.contains(QLatin1String("Audio"), Qt::CaseInsensitive) &&
                       !name.contains(QLatin1String("Video"), Qt::CaseInsensitive);
    if (audio) {
        p.drawEllipse(QRectF(3.5, 9.5, 4.5, 3.5));
        p.drawEllipse(QRectF(8.5, 8.5, 4.5, 3.5));
        p.drawRect(QRectF(7, 3.5, 1.3, 7.5));
        p.drawRect(QRectF(12, 2.5, 1.3, 7.5));
        p.drawRect(QRectF(7, 2.5, 6.3, 1.6));
    } else {
        p.drawRect(QRectF(3, 4, 10, 8));
        p.setBrush(tint.darker(110));
        QPainterPath play;
        play.moveTo(6.5, 5.5);
        play.lineTo(10.5, 8);
        play.lineTo(6.5, 10.5);
        play.closeSubpath();
        p.drawPath(play);
    }
    return pm;
}

class TFormatRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {100, TFormatListBox::ItemHeight};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        const QRect r = option.rect;
        const QColor accent = option.palette.color(QPalette::Active, QPalette::Highlight);
        if (option.state & QStyle::State_Selected) {
            QColor fill = accent;
            fill.setAlpha(60);
            p->fillRect(r, Qt::white);
            p->fillRect(r, fill);
            p->setPen(accent);
            p->drawRect(r.adjusted(0, 0, -1, -1));
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.data(IsCategoryRole).toBool()) {
            // Expand/collapse mark in the toggle zone.
            const QRect box(r.left() + 5, r.top() + (r.height() - 9) / 2, 9, 9);
            p->setPen(QColor(0x7A, 0x86, 0x99));
            p->setBrush(Qt::white);
            p->drawRect(box);
            p->setPen(QColor(0x20, 0x30, 0x50));
            const int cy = box.top() + 4, cx = box.left() + 4;
            p->drawLine(box.left() + 2, cy, box.right() - 2, cy);
            if (index.data(CollapsedRole).toBool()) p->drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
            p->drawPixmap(r.left() + 20, r.top() + (r.height() - 16) / 2,
                          CategoryIcon(index.data(CodeRole).toInt(), text));
            QFont bold = option.font;
            bold.setBold(true);
            p->setFont(bold);
            p->setPen(option.palette.color(QPalette::Text));
            p->drawText(r.adjusted(45, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        } else {
            p->setFont(option.font);
            p->setPen(FormatTextColour);
            p->drawText(r.adjusted(25, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        p->restore();
    }
};

}  // namespace

// Shows the catalogue's rows to the view; the catalogue holds the truth.
class TFormatListModel : public QAbstractListModel {
public:
    explicit TFormatListModel(const TFormatCatalogueModel& catalogue) : FCatalogue(catalogue) {}

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : FCatalogue.RowCount(); }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= FCatalogue.RowCount()) return {};
        const TItemInfo& info = FCatalogue.Row(index.row());
        switch (role) {
            case Qt::DisplayRole: return QString::fromStdString(FCatalogue.RowText(index.row()));
            case IsCategoryRole: return info.IsCategory;
            case CollapsedRole: return info.Collapsed;
            case CodeRole: return info.Code;
            default: return {};
        }
    }

    void Reset(const std::function<void()>& change) {
        beginResetModel();
        change();
        endResetModel();
    }

private:
    const TFormatCatalogueModel& FCatalogue;
};

TFormatListBox::TFormatListBox(QWidget* parent)
    : QListView(parent), FEdition(CompiledEdition()), FModel(std::make_unique<TFormatListModel>(FCatalogue)) {
    setObjectName("lst1");
    setModel(FModel.get());
    setItemDelegate(new TFormatRowDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    setFrameShape(QFrame::Box);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, ListColour);
    setPalette(pal);
    hide();
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive) HideList();
    });
}

TFormatListBox::~TFormatListBox() {
    if (qApp) qApp->removeEventFilter(this);
    setModel(nullptr);
}

void TFormatListBox::SetFormatBox(QLineEdit* box, QAbstractButton* arrow) {
    FBox = box;
    FArrow = arrow;
    if (FBox) {
        QPalette pal = FBox->palette();
        pal.setColor(QPalette::Base, ListColour);
        FBox->setPalette(pal);
    }
    if (FArrow) connect(FArrow, &QAbstractButton::clicked, this, [this] { ShowList(false); });
}

std::string TFormatListBox::StoredFormatName() const {
    return IniFile(FSettingsFile).ReadString(settings_key::Section, settings_key::FormatName, DefaultFormatName);
}

int TFormatListBox::SelectedRow() const {
    const QModelIndex current = selectionModel()->currentIndex();
    return selectionModel()->isSelected(current) ? current.row() : -1;
}

int TFormatListBox::ListHeight() const { return TFormatCatalogueModel::ListHeight(FCatalogue.RowCount(), ItemHeight); }

void TFormatListBox::SelectText(const std::string& text) {
    const int row = FCatalogue.FindRow(text);
    if (row < 0) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = FModel->index(row);
    setCurrentIndex(index);
    scrollTo(index);
}

void TFormatListBox::BuildCatalogue() {
    FModel->Reset([this] { FCatalogue.Build(FEdition, IniFile(FSettingsFile)); });
    Place();
    const std::string name = StoredFormatName();
    if (FBox) FBox->setText(QString::fromStdString(name));
    SelectText(FBox ? FBox->text().toStdString() : name);
}

void TFormatListBox::SaveCollapseState() const {
    IniFile settings(FSettingsFile);
    FCatalogue.SaveCollapseState(settings);
}

// The list keeps its bottom edge on the top of the format box and grows upward.
void TFormatListBox::Place() {
    const int height = ListHeight();
    if (!FBox || !parentWidget()) {
        resize(width(), height);
        return;
    }
    const QPoint boxTopLeft = FBox->mapTo(parentWidget(), QPoint(0, 0));
    int right = boxTopLeft.x() + FBox->width();
    if (FArrow) right = std::max(right, FArrow->mapTo(parentWidget(), QPoint(FArrow->width(), 0)).x());
    setGeometry(boxTopLeft.x(), boxTopLeft.y() - height, right - boxTopLeft.x(), height);
}

void TFormatListBox::ShowList(bool movePointer) {
    if (isVisible()) {
        HideList();
        return;
    }
    // The settings dialog's picks are not stored yet, so its box already holds its choice.
    if (FStoresChoice && FBox) FBox->setText(QString::fromStdString(StoredFormatName()));
    SelectText(FBox ? FBox->text().toStdString() : StoredFormatName());
    Place();
    show();
    raise();
    setFocus(Qt::PopupFocusReason);
    if (movePointer) {
        if (const int row = SelectedRow(); row >= 0) {
            scrollTo(FModel->index(row));
            QCursor::setPos(viewport()->mapToGlobal(visualRect(FModel->index(row)).center()));
        }
    }
}

void TFormatListBox::HideList() {
    // Dropping the focus first keeps it from jumping to the next box in the window.
    if (hasFocus()) clearFocus();
    hide();
}

void TFormatListBox::Refill(int keepRow) {
    if (keepRow >= 0 && keepRow < FCatalogue.RowCount()) setCurrentIndex(FModel->index(keepRow));
    Place();
}

void TFormatListBox::ToggleRow(int row) {
    if (row < 0 || row >= FCatalogue.RowCount() || !FCatalogue.Row(row).IsCategory) return;
    FModel->Reset([this, row] { FCatalogue.Toggle(row); });
    Refill(row);
}

void TFormatListBox::PickRow(int row) {
    if (row < 0 || row >= FCatalogue.RowCount() || !FCatalogue.Row(row).IsFormat) return;
    const std::string name = FCatalogue.RowText(row);
    const int code = FCatalogue.Row(row).Code;
    if (FStoresChoice) {
        IniFile settings(FSettingsFile);
        settings.WriteString(settings_key::Section, settings_key::FormatName, name);
        settings.WriteString(settings_key::Section, settings_key::FormatCode, std::to_string(code));
    }
    if (FBox) FBox->setText(QString::fromStdString(name));
    HideList();
    emit FormatPicked(QString::fromStdString(name), code);
}

void TFormatListBox::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid()) return;
    const int row = index.row();
    setCurrentIndex(index);
    if (event->position().x() < ToggleZone && FCatalogue.Row(row).IsCategory) {
        ToggleRow(row);
        return;
    }
    PickRow(row);
}

void TFormatListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) ToggleRow(index.row());
}

void TFormatListBox::mouseMoveEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && index != currentIndex()) setCurrentIndex(index);
}

void TFormatListBox::keyPressEvent(QKeyEvent* event) {
    const int row = currentIndex().row();
    switch (event->key()) {
        case Qt::Key_Escape: HideList(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (row >= 0 && FCatalogue.Row(row).IsCategory) ToggleRow(row);
            else PickRow(row);
            return;
        default: QListView::keyPressEvent(event);
    }
}

bool TFormatListBox::IsCompanion(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return false;
    for (QWidget* w : {static_cast<QWidget*>(const_cast<TFormatListBox*>(this)), static_cast<QWidget*>(FBox.data()),
                       static_cast<QWidget*>(FArrow.data())})
        if (w && (w == widget || w->isAncestorOf(widget))) return true;
    return false;
}

bool TFormatListBox::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            // A press anywhere else closes the list, as a drop-down would.
            if (isVisible() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                watched->isWidgetType() && !IsCompanion(watched))
                HideList();
            break;
        case QEvent::MouseButtonRelease:
            if (FBox && watched == FBox && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                FBox->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
                ShowList(true);
            break;
        case QEvent::MouseButtonDblClick:
            if (FBox && watched == FBox) {
                ShowList(false);
                return true;
            }
            break;
        default: break;
    }
    return QListView::eventFilter(watched, event);
}

#include "app/JobList.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "platform/qt/FileNames.h"
#include "platform/qt/PlainText.h"
#include "player/AVProbe.h"
#include "skin/Skin.h"

namespace {

const char* const ColumnCaptions[TJobRow::ColumnCount] = {"Source", "Length", "Trimmed Length", "Destination File",
                                                          "Progress"};
const int ColumnWidths[TJobRow::ColumnCount] = {140, 65, 90, 120, 60};

// Left of a row: the check box, then the caption.
constexpr int CheckBoxRight = 14;
constexpr int CaptionLeft = 16;
constexpr int CaptionMargin = 3;  // on each side of every cell's text

QList<QByteArray> LocalFiles(const QMimeData* mime) {
    QList<QByteArray> paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (auto path = LocalFileBytes(url)) paths << QByteArray::fromStdString(*path);
    return paths;
}

}  // namespace

TJobRow::TJobRow(const TlvFilesRecord& record) : Record(record) {
    // Checks are drawn and toggled by the list itself, never by the default delegate.
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    SetChecked(true);
}

void TJobRow::AddLog(const QString& line) {
    FLog << line;
    for (int column = 0; column < ColumnCount; ++column) setToolTip(column, PlainToolTip(FLog.join('\n')));
}

TJobListView::TJobListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("lvFiles");
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setTextElideMode(Qt::ElideRight);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    CreateColumns();
}

void TJobListView::CreateColumns() {
    setColumnCount(TJobRow::ColumnCount);
    QStringList captions;
    for (const char* caption : ColumnCaptions) captions << caption;
    setHeaderLabels(captions);
    for (int i = 0; i < TJobRow::ColumnCount; ++i) setColumnWidth(i, ColumnWidths[i]);
}

TJobRow* TJobListView::Row(int index) const {
    if (index < 0 || index >= topLevelItemCount()) return nullptr;
    return static_cast<TJobRow*>(topLevelItem(index));
}

int TJobListView::SelectedIndex() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void TJobListView::SelectRow(int index) {
    TJobRow* row = Row(index);
    if (!row) {
        clearSelection();
        setCurrentItem(nullptr);
        return;
    }
    setCurrentItem(row);
    row->setSelected(true);
    scrollToItem(row);
}

bool TJobListView::HasSource(const std::string& path) const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (Row(i)->Record.SourceFile == path) return true;
    return false;
}

QRect TJobListView::CheckBoxRect(int row) const {
    const TJobRow* item = Row(row);
    if (!item) return {};
    const QRect r = visualItemRect(item);
    const int left = visualRect(indexFromItem(item, 0)).left();
    return QRect(QPoint(left + 2, r.top() + 2), QPoint(left + CheckBoxRight, r.bottom() - 2));
}

void TJobListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int rowIndex = index.row();
    const TJobRow* row = Row(rowIndex);
    if (!row) return;
    painter->save();
    const QRect r = option.rect;
    // The view hands every row the same state: selection and focus are looked up here.
    const bool selected = selectionModel()->isSelected(index.siblingAtColumn(0));
    const bool focused = hasFocus() && currentIndex().row() == rowIndex;

    QColor background = rowIndex % 2 == 0 ? QColor(Qt::white) : skin::AlternateRowColor(skin::CurrentSkin());
    if (selected) background = QColor(focused ? SelectedFocused : SelectedUnfocused);
    painter->fillRect(r, background);

    // The check box, drawn by hand at the row's left.
    const int left = visualRect(model()->index(rowIndex, 0)).left();
    const int top = r.top(), bottom = r.bottom() + 1;
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(Qt::black, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(QPoint(left + 2, top + 2), QPoint(left + CheckBoxRight, bottom - 2)));
    if (row->Checked()) {
        const QPoint tick[] = {{left + 4, top + 6}, {left + 6, top + 11}, {left + 11, top + 5}};
        painter->drawPolyline(tick, 3);
    }
    painter->setPen(QPen(palette().color(QPalette::Text), 1));

    // One line per cell, vertically centred, cut with an ellipsis.
    const QFontMetrics metrics(option.font);
    for (int column = 0; column < TJobRow::ColumnCount; ++column) {
        QRect cell = visualRect(model()->index(rowIndex, column));
        cell.setTop(r.top());
        cell.setBottom(r.bottom());
        cell.adjust(column == 0 ? CaptionLeft + CaptionMargin : CaptionMargin, 0, -CaptionMargin, 0);
        if (cell.width() <= 0) continue;
        const int alignment = header()->model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt();
        const Qt::Alignment horizontal = Qt::Alignment(alignment) & Qt::AlignHorizontal_Mask;
        // A cell's icon (a warning) stands before its text.
        if (const QIcon icon = row->icon(column); !icon.isNull()) {
            const int side = std::min(16, cell.height());
            icon.paint(painter, QRect(cell.left(), cell.top() + (cell.height() - side) / 2, side, side));
            cell.setLeft(cell.left() + side + 2);
            if (cell.width() <= 0) continue;
        }
        const QString text = metrics.elidedText(row->text(column), Qt::ElideRight, cell.width());
        painter->drawText(cell, int(horizontal ? horizontal : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                          text);
    }

    if (selected) {
        painter->setPen(QPen(QColor(focused ? FrameFocused : FrameUnfocused), 1));
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

void TJobListView::ToggleCheck(TJobRow* row) {
    if (!row) return;
    row->SetChecked(!row->Checked());
    emit RowCheckToggled(indexOfTopLevelItem(row));
}

void TJobListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // The row under the pointer becomes the selected one, as in any list.
        if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) {
            setCurrentItem(item);
            item->setSelected(true);
        }
        emit PopupRequested(event->position().toPoint());
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(p);
    if (!item) return;
    const int index = indexOfTopLevelItem(item);
    const QRect box = CheckBoxRect(index);
    if (p.x() >= box.left() - 1 && p.x() <= box.right() + 1) ToggleCheck(Row(index));
}

void TJobListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click on the check box must not count as two toggles and an activation.
    const QPoint p = event->position().toPoint();
    if (QTreeWidgetItem* item = itemAt(p)) {
        const QRect box = CheckBoxRect(indexOfTopLevelItem(item));
        if (event->button() == Qt::LeftButton && p.x() >= box.left() - 1 && p.x() <= box.right() + 1) {
            ToggleCheck(static_cast<TJobRow*>(item));
            event->accept();
            return;
        }
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void TJobListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        ToggleCheck(static_cast<TJobRow*>(currentItem()));
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void TJobListView::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
    else event->ignore();
}

void TJobListView::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
    else event->ignore();
}

void TJobListView::dropEvent(QDropEvent* event) {
    const QList<QByteArray> paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(paths);
}

// ---------------------------------------------------------------- helpers

std::string AddFilesFilter(TEdition edition) {
    if (edition == TEdition::Mp4Avi)
        return "MPEG4 files (*.mp4)|*.mp4|Itunes Video files (*.m4v)|*.m4v|MPEG-4 Audio files (*.m4a)|*.m4a";
    static const char* const entries[][2] = {
        {"All Supported Video Formats",
         "*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;"
         "*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;"},
        {"All Supported Audio Formats",
         "*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;"
         "*.TTA;*.AC3;*.DTS;"},
        {"AVI files (*.avi)", "*.avi"},
        {"MPEG4 files (*.mp4)", "*.mp4"},
        {"MPEG files (*.mpg,*.mpeg)", "*.mpg;*.mpeg"},
        {"3GP files (*.3gp,*.3g2)", "*.3gp;*.3g2"},
        {"Itunes Video files (*.m4v)", "*.m4v"},
        {"Windows Media files (*.wmv,*.asf)", "*.wmv;*.asf"},
        {"Real Media files (*.rm,*.rmvb)", "*.rm;*.rmvb"},
        {"Video CD files (*.dat)", "*.dat"},
        {"Quick Time files (*.mov)", "*.mov"},
        {"Flash Video files (*.flv)", "*.flv"},
        {"Matroska Video files (*.mkv)", "*.mkv"},
        {"MJPEG Video files (*.mjpg,*.mjpeg)", "*.mjpg;*.mjpeg"},
        {"Animated GIF files (*.gif)", "*.gif"},
        {"H.264/MPEG4 AVC Video files (*.mts,*.m2ts)", "*.mts;*.m2ts"},
        {"DVD video object files (*.vob)", "*.vob"},
        {"MPEG-1 Video files (*.mpv)", "*.mpv"},
        {"Video Transport Stream files (*.ts)", "*.ts"},
        {"TP Video files (*.tp)", "*.tp"},
        {"Maceomeida Flash files (*.swf)", "*.swf"},
        {"MP3 Audio files (*.mp3)", "*.mp3"},
        {"Advanced Audio Coding files (*.aac)", "*.aac"},
        {"Monkey's Audio files (*.ape)", "*.ape"},
        {"Ogg Vorbis Audio files (*.ogg)", "*.ogg"},
        {"Windows Media Audio files (*.wma)", "*.wma"},
        {"MusePack Audio files (*.mpc)", "*.mpc"},
        {"MPEG Audio files (*.mpa)", "*.mpa"},
        {"MPEG-4 Audio files (*.m4a)", "*.m4a"},
        {"Matroska Audio files (*.mka)", "*.mka"},
        {"DTS Audio files (*.dts)", "*.dts"},
        {"Audio Codec 3 files (*.ac3)", "*.ac3"},
        {"Speex Audio files (*.spx)", "*.spx"},
        {"Real Audio files (*.ra,*.ram)", "*.ra;*.ram"},
        {"MPEG Layer II Compressed Audio files (*.mp2)", "*.mp2"},
        {"All files (*.*)", "*.*"},
    };
    std::string filter;
    for (const auto& entry : entries) {
        if (!filter.empty()) filter += "|";
        filter += std::string(entry[0]) + "|" + entry[1];
    }
    return filter;
}

QStringList FileDialogFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The dialog reads blank-separated patterns from the text's closing parentheses; an
        // entry's own hint there ("(*.mpg,*.mpeg)") gives way to the real patterns.
        QString text = parts[i].trimmed();
        if (text.endsWith(')')) {
            const qsizetype open = text.lastIndexOf('(');
            if (open > 0) text = text.left(open).trimmed();
        }
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        if (patterns.size() == 1 && patterns[0] == "*.*") patterns[0] = "*";
        filters << text + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

bool HasConvertibleStream(TCustomAVProbe& probe) {
    for (int i = 0; i < probe.StreamCount(); ++i) {
        if (probe.IsVideoStream(i)) {
            const TVideoStreamInfo video = probe.VideoStreamInfo(i);
            if (video.Width > 0 && video.Height > 0) return true;
        } else if (probe.IsAudioStream(i)) {
            const TAudioStreamInfo audio = probe.AudioStreamInfo(i);
            if (audio.SampleRate > 0 && audio.Channels > 0) return true;
        }
    }
    return false;
}

std::string WholeSecondsText(int64_t microseconds) {
    return std::to_string(microseconds > 0 ? microseconds / 1000000 : 0);
}

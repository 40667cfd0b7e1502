#pragma once
// The job list: one row per source file with its length, trimmed length, planned output
// name and progress, a check box saying whether the next run converts it, and the job record
// with the file's edits. The list draws its rows itself (alternate tints of the skin, a hand-
// drawn check box) and takes files dropped onto it.
#include <QStringList>
#include <QTreeWidget>

#include <string>

#include "edits/JobRecord.h"
#include "formats/Edition.h"

class TCustomAVProbe;

// One row; it owns its job record.
class TJobRow : public QTreeWidgetItem {
public:
    enum TColumn { colSource, colLength, colTrimmed, colDestination, colProgress, ColumnCount };
    explicit TJobRow(const TlvFilesRecord& record);
    TlvFilesRecord Record;
    // The bytes of the "Destination File" name, which the column shows as characters.
    std::string DestinationName;

    bool Checked() const { return checkState(0) == Qt::Checked; }
    void SetChecked(bool checked) { setCheckState(0, checked ? Qt::Checked : Qt::Unchecked); }

    // The row's log: what was put right in its job (a value out of range and the one used
    // instead), shown as the row's tool tip.
    const QStringList& Log() const { return FLog; }
    void AddLog(const QString& line);

private:
    QStringList FLog;
};

class TJobListView : public QTreeWidget {
    Q_OBJECT
public:
    // Selected rows, focused or not, and the frame drawn around them.
    static constexpr QRgb SelectedFocused = 0xB9CCEC;
    static constexpr QRgb SelectedUnfocused = 0xE5ECF8;
    static constexpr QRgb FrameFocused = 0x7AA0DA;
    static constexpr QRgb FrameUnfocused = 0x98B5E2;

    explicit TJobListView(QWidget* parent = nullptr);

    // The five columns with their captions and widths.
    void CreateColumns();

    int RowCount() const { return topLevelItemCount(); }
    TJobRow* Row(int index) const;
    // The selected row's index, -1 without one.
    int SelectedIndex() const;
    // Selects and focuses row index; -1 clears the selection.
    void SelectRow(int index);
    // True when a row's source is exactly path (letter case counts).
    bool HasSource(const std::string& path) const;

    // Where the check box of a row sits, in viewport coordinates.
    QRect CheckBoxRect(int row) const;

signals:
    // Local files dropped onto the list, in the order they came, as the system's bytes.
    void FilesDropped(const QList<QByteArray>& paths);
    // A row's check box was changed by the user.
    void RowCheckToggled(int row);
    // The right mouse button went down over the list (viewport coordinates).
    void PopupRequested(const QPoint& position);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void ToggleCheck(TJobRow* row);
};

// The filter of the add-files dialog as the edition names it: entry text and patterns, all
// parts joined by "|".
std::string AddFilesFilter(TEdition edition);
// The same filter as the file dialog takes it: "entry (patterns)" joined by ";;".
QStringList FileDialogFilters(const std::string& filter);

// True when the opened file holds a picture or sound stream that can be converted: a video
// stream with a frame size, or an audio stream with a sample rate and channels. The
// demuxers take some files of other kinds (random bytes, song texts) for media without a
// picture or a sound in them.
bool HasConvertibleStream(TCustomAVProbe& probe);

// A duration in microseconds as whole seconds, truncated; an unknown one (negative) is 0.
std::string WholeSecondsText(int64_t microseconds);

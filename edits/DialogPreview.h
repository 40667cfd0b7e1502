#pragma once
// What the three edit dialogs share around their previews: checking the job's source before
// a player opens it, the shortened source name of their labels, the crop outline the previews
// draw, spin boxes that only their arrows change, and a seek bar that shows a selection.
#include <QSlider>
#include <QStyle>
#include <QSpinBox>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "edits/JobRecord.h"
#include "engine/FrameBitmap.h"

class QBoxLayout;
class QEvent;
class QPushButton;
class QHBoxLayout;
class QToolButton;
class QWidget;
class TFFPlayer;

// Why the source cannot be previewed (empty when it can be tried): no file named, or a
// file that is missing or cannot be read.
QString SourceProblem(const std::string& path);

// Loads the player's libraries from the program folder when they are not loaded yet.
bool EnsurePlayerLibraries(TFFPlayer& player, QString& error);

// Why a dialog's player cannot preview the source: SourceProblem's reason, or the player's
// libraries that cannot be loaded; empty when it can be tried.
QString PreviewProblem(TFFPlayer& player, const std::string& source);

// The "&Default", "Ok" (the default button) and "Cancel" row at the foot of a dialog.
struct TDialogButtons {
    QPushButton* Default;
    QPushButton* Ok;
    QPushButton* Cancel;
};
TDialogButtons AddDialogButtons(QBoxLayout& root);

// The path as a label shows it: whole when shorter than limit characters, else its first
// head characters, "..", the extension and two blanks.
QString ShortSourceName(const std::string& path, int limit, int head);

// The job's stored crop outlined on the frame with a solid green pen of width 2, from
// (left + inset, top + inset) to (W - right - farInset, H - bottom - farInset).
void OutlineCrop(TFrameBitmap& frame, const TlvFilesRecord& job, int inset, int farInset);

// How a dialog tells the user that it cannot open; a message box when not set (tests set it).
using TEditWarning = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
void SetEditWarning(TEditWarning warning);
void ShowEditWarning(QWidget* parent, const QString& caption, const QString& text);

// A flat button of the preview's play/pause row, appended to row.
QToolButton* AddPreviewButton(QHBoxLayout& row, const char* name, QStyle::StandardPixmap icon, const char* hint);

// The seek bar's mouse rule: seeking is true while the left button holds the bar, and its
// release seeks the player to the bar's place in a file of duration microseconds.
void SeekOnRelease(const QEvent& event, const QSlider& bar, TFFPlayer& player, std::int64_t duration, bool& seeking);

// A spin box whose text cannot be typed into: the arrows (and the keys) step it.
class TArrowSpinBox : public QSpinBox {
public:
    explicit TArrowSpinBox(QWidget* parent = nullptr);
};

// A seek bar with a marked stretch from SelStart to SelEnd (slider positions).
class TSelectionSlider : public QSlider {
public:
    explicit TSelectionSlider(QWidget* parent = nullptr);
    void SetSelection(int start, int end);
    void ClearSelection() { SetSelection(0, 0); }
    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FSelStart = 0;
    int FSelEnd = 0;
};

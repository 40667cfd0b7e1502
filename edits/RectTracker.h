#pragma once
// The rubber band of the crop dialog: a frame with eight square handles that the mouse
// drags by an edge, a corner or the middle. It reports a finished drag through OnChange with
// its inner rectangle in the parent's coordinates, and can hold a control five pixels inside
// itself.
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

class TCustomRectTracker : public QWidget {
public:
    static constexpr int MinimumSize = 10;
    static constexpr int HandleSize = 5;
    static constexpr int NoDrag = 9;

    explicit TCustomRectTracker(QWidget* parent = nullptr);

    // The area under (x, y) in the tracker's own coordinates: 0..7 the handles (left, right,
    // top, bottom middles; top-left, top-right, bottom-left, bottom-right corners), 8 inside
    // the inner rectangle, 9 elsewhere.
    int HitCode(int x, int y) const;
    static Qt::CursorShape CursorFor(int hitCode);
    // From (2, 2) to (width - 2, height - 2), the far edges outside.
    QRect InnerRect() const { return QRect(2, 2, width() - 4, height() - 4); }

    QWidget* AcControl() const { return FAcControl; }
    // Places the tracker around the control (five pixels on each side) and from then on keeps
    // the control five pixels inside itself.
    void SetAcControl(QWidget* control);

    int DragMode() const { return FDragMode; }

    // Sender and the inner rectangle in the parent's coordinates, when a drag ended with other
    // bounds than it started with.
    std::function<void(TCustomRectTracker* sender, const QRect& inner)> OnChange;
    // After the tracker's own handling: where the owner keeps it inside its picture.
    std::function<void(TCustomRectTracker* sender, QMouseEvent* event)> OnMouseDown;
    std::function<void(TCustomRectTracker* sender, QMouseEvent* event)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void moveEvent(QMoveEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Drag(int x, int y);
    void FollowControl();

    QPoint FLast{-1, -1};
    int FDragMode = NoDrag;
    QRect FPressBounds;
    QPointer<QWidget> FAcControl;
    bool FPlacing = false;  // while placed around a new control, its resize is not followed
};

class TRectTracker : public TCustomRectTracker {
public:
    using TCustomRectTracker::TCustomRectTracker;
};

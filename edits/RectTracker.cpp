#include "edits/RectTracker.h"

#include <QMouseEvent>
#include <QPainter>

TCustomRectTracker::TCustomRectTracker(QWidget* parent) : QWidget(parent) {
    setMinimumSize(MinimumSize, MinimumSize);
    resize(65, 65);
    setMouseTracking(true);  // the cursor follows the handles without a button down
    setAttribute(Qt::WA_TranslucentBackground);
}

int TCustomRectTracker::HitCode(int x, int y) const {
    const int w = width(), h = height(), s = HandleSize;
    // Middle handles: ceil(size / 2) - 3.
    const int mx = (w + 1) / 2 - 3, my = (h + 1) / 2 - 3;
    auto in = [&](int l, int t, int r, int b) { return x >= l && x < r && y >= t && y < b; };
    if (in(0, 0, s, s)) return 4;
    if (in(w - s, h - s, w, h)) return 7;
    if (in(0, h - s, s, h)) return 6;
    if (in(w - s, 0, w, s)) return 5;
    if (in(0, my, s, my + s)) return 0;
    if (in(w - s, my, w, my + s)) return 1;
    if (in(mx, 0, mx + s, s)) return 2;
    if (in(mx, h - s, mx + s, h)) return 3;
    const QRect inner = InnerRect();
    if (in(inner.left(), inner.top(), inner.left() + inner.width(), inner.top() + inner.height())) return 8;
    return NoDrag;
}

Qt::CursorShape TCustomRectTracker::CursorFor(int code) {
    switch (code) {
    case 4:
    case 7: return Qt::SizeFDiagCursor;
    case 5:
    case 6: return Qt::SizeBDiagCursor;
    case 0:
    case 1: return Qt::SizeHorCursor;
    case 2:
    case 3: return Qt::SizeVerCursor;
    case 8: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

void TCustomRectTracker::SetAcControl(QWidget* control) {
    FAcControl = control;
    if (!control) return;
    FPlacing = true;
    setGeometry(control->x() - 5, control->y() - 5, control->width() + 10, control->height() + 10);
    FPlacing = false;
}

void TCustomRectTracker::FollowControl() {
    if (FPlacing || !FAcControl) return;
    FAcControl->setGeometry(x() + 5, y() + 5, width() - 10, height() - 10);
}

void TCustomRectTracker::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A dotted frame that stays visible on any picture: the pen merged with the inverted screen.
    p.setCompositionMode(QPainter::RasterOp_SourceOrNotDestination);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(InnerRect().adjusted(0, 0, -1, -1));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const int w = width(), h = height(), s = HandleSize;
    const int mx = (w + 1) / 2 - 3, my = (h + 1) / 2 - 3;
    for (QRect r : {QRect(0, my, s, s), QRect(w - s, my, s, s), QRect(mx, 0, s, s), QRect(mx, h - s, s, s),
                    QRect(0, 0, s, s), QRect(w - s, 0, s, s), QRect(0, h - s, s, s), QRect(w - s, h - s, s, s)})
        p.drawRect(r);
}

void TCustomRectTracker::resizeEvent(QResizeEvent*) {
    FollowControl();
}

void TCustomRectTracker::moveEvent(QMoveEvent*) { FollowControl(); }

void TCustomRectTracker::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        FPressBounds = geometry();
        FLast = event->position().toPoint();
        FDragMode = HitCode(FLast.x(), FLast.y());
    }
    if (OnMouseDown) OnMouseDown(this, event);
}

void TCustomRectTracker::Drag(int x, int y) {
    const int dx = x - FLast.x(), dy = y - FLast.y();
    int left = this->x(), top = this->y(), w = width(), h = height();
    // The edges that move the tracker's origin keep the last position: the mouse is then at
    // the same place of the moved tracker again.
    auto moveLeft = [&] {
        if (w > MinimumSize || dx <= 0) left += dx, w -= dx;
    };
    auto moveTop = [&] {
        if (!(h <= MinimumSize && dy > 0)) top += dy, h -= dy;
    };
    switch (FDragMode) {
    case 0: moveLeft(); break;
    case 1: w += dx, FLast.setX(x); break;
    case 2:
        if (h > MinimumSize || dy <= 0) top += dy, h -= dy;
        break;
    case 3: h += dy, FLast.setY(y); break;
    case 4:
        moveLeft();
        moveTop();
        break;
    case 5:
        moveTop();
        w += dx, FLast.setX(x);
        break;
    case 6:
        moveLeft();
        h += dy, FLast.setY(y);
        break;
    case 7:
        w += dx, h += dy;
        FLast = QPoint(x, y);
        break;
    case 8: left += dx, top += dy; break;
    default: return;
    }
    setGeometry(left, top, std::max(w, MinimumSize), std::max(h, MinimumSize));
}

void TCustomRectTracker::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (FLast.x() >= 0 && (event->buttons() & Qt::LeftButton)) Drag(at.x(), at.y());
    setCursor(CursorFor(HitCode(at.x(), at.y())));
    if (OnMouseMove) OnMouseMove(this, event);
}

void TCustomRectTracker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    FLast = QPoint(-1, -1);
    FDragMode = NoDrag;
    if (geometry() != FPressBounds && OnChange)
        OnChange(this, QRect(x() + 2, y() + 2, width() - 4, height() - 4));
}

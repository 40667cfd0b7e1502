#include "app/PreviewerWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

TPreviewerWindow::TPreviewerWindow() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName("Previewer");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewerWindow::ShowFrame(const TFrameBitmap& bitmap, int64_t pts) {
    if (FClosed || bitmap.Empty()) return;
    // The bitmap is reused by the task as soon as we return: keep a copy.
    FFrame = QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888).copy();
    setWindowTitle(QString::fromStdString(PreviewTitle(pts)));
    if (size() != FFrame.size()) setFixedSize(FFrame.size());
    if (!FPlaced) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        FPlaced = true;
    }
    if (!isVisible()) show();
    update();
}

void TPreviewerWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FFrame.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(0, 0, FFrame);
}

void TPreviewerWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void TPreviewerWindow::closeEvent(QCloseEvent* event) {
    FClosed = true;
    event->accept();
}

void InstallPreviewerWindows() {
    SetPreviewerFactory([] { return std::make_unique<TPreviewerWindow>(); });
}

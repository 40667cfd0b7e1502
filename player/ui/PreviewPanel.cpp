#include "player/ui/PreviewPanel.h"

#include <QImage>
#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>

TPreviewPanel::TPreviewPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    FHandle = static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this));
}

void TPreviewPanel::ShowPicture(const TShownPicture& shown) {
    {
        std::lock_guard lock(FMutex);
        FPicture = shown.Picture;
        FAspect = shown.Aspect;
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void TPreviewPanel::ClearPicture() {
    {
        std::lock_guard lock(FMutex);
        FPicture.reset();
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

bool TPreviewPanel::HasPicture() const {
    std::lock_guard lock(FMutex);
    return FPicture != nullptr;
}

void TPreviewPanel::resizeEvent(QResizeEvent* event) {
    FWidth = event->size().width();
    FHeight = event->size().height();
    QWidget::resizeEvent(event);
}

void TPreviewPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
    std::shared_ptr<const TFrameBitmap> picture;
    double aspect;
    {
        std::lock_guard lock(FMutex);
        picture = FPicture;
        aspect = FAspect;
    }
    if (!picture || picture->Empty()) return;
    const QImage image(picture->Bits(), picture->Width(), picture->Height(), picture->Stride(), QImage::Format_BGR888);
    const TPictureRect r = PictureRect(width(), height(), aspect);
    painter.fillRect(rect(), Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, picture->Width() * picture->Height() <= 1024 * 768);
    painter.drawImage(QRect(r.X, r.Y, r.Width, r.Height), image);
}

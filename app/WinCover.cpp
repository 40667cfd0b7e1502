#include "app/WinCover.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

TfrmCover::TfrmCover(const QString& programFolder, const QString& caption)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("frmCover");
    setAttribute(Qt::WA_DeleteOnClose, false);
    FPicture = BuiltInPicture(caption);
    for (const char* name : {"skin/videocover.jpg", "skin/mp4avicover.jpg"}) {
        const QString path = programFolder + "/" + QString::fromLatin1(name);
        if (!QFileInfo::exists(path)) continue;
        QImage loaded(path);
        if (!loaded.isNull()) FPicture = loaded;
    }
    tmrClose = new QTimer(this);
    tmrClose->setInterval(1000);
    connect(tmrClose, &QTimer::timeout, this, &TfrmCover::tmrCloseTimer);
}

void TfrmCover::ShowNow() {
    setFixedSize(FPicture.size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    repaint();
    QCoreApplication::processEvents();
    tmrClose->start();
}

void TfrmCover::tmrCloseTimer() {
    if (FMainWindow && FMainWindow->isVisible()) {
        tmrClose->stop();
        close();
    }
}

void TfrmCover::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(rect(), FPicture);
}

QImage TfrmCover::BuiltInPicture(const QString& caption) {
    QImage img(480, 280, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, img.height());
    sky.setColorAt(0, QColor(0x1D, 0x3B, 0x6E));
    sky.setColorAt(1, QColor(0x0B, 0x17, 0x30));
    p.fillRect(img.rect(), sky);

    // A strip of film across the picture.
    const QRect strip(0, 150, img.width(), 58);
    p.fillRect(strip, QColor(0x10, 0x10, 0x14));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE8, 0xEC, 0xF2));
    for (int x = 6; x < img.width(); x += 22) {
        p.drawRoundedRect(QRect(x, strip.top() + 5, 11, 8), 2, 2);
        p.drawRoundedRect(QRect(x, strip.bottom() - 12, 11, 8), 2, 2);
    }
    const QColor frames[] = {QColor(0x4F, 0x8F, 0xD8), QColor(0xE0, 0x8A, 0x2E), QColor(0x5B, 0xB0, 0x5A),
                             QColor(0xB0, 0x5A, 0xA8), QColor(0xD8, 0x4F, 0x4F), QColor(0x3F, 0xA8, 0xC8)};
    for (int i = 0; i < 6; ++i) {
        QLinearGradient g(0, strip.top() + 17, 0, strip.bottom() - 16);
        g.setColorAt(0, frames[i].lighter(130));
        g.setColorAt(1, frames[i].darker(120));
        p.setBrush(g);
        p.drawRect(QRect(14 + i * 78, strip.top() + 17, 68, strip.height() - 34));
    }

    // A play mark in a ring.
    const QPointF centre(72, 82);
    p.setPen(QPen(QColor(0xFF, 0xFF, 0xFF, 220), 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 40, 40);
    QPainterPath play;
    play.moveTo(centre + QPointF(-13, -20));
    play.lineTo(centre + QPointF(22, 0));
    play.lineTo(centre + QPointF(-13, 20));
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xB0, 0x3A));
    p.drawPath(play);

    // The largest title size that fits beside the play mark.
    const int titleWidth = img.width() - 140;
    QFont titleFont("Sans Serif", 17, QFont::Bold);
    while (titleFont.pointSize() > 9 && QFontMetrics(titleFont).horizontalAdvance(caption) > titleWidth)
        titleFont.setPointSize(titleFont.pointSize() - 1);
    p.setFont(titleFont);
    p.setPen(Qt::white);
    p.drawText(QRect(128, 48, titleWidth, 34), Qt::AlignLeft | Qt::AlignVCenter, caption);
    QFont small("Sans Serif", 9);
    p.setFont(small);
    p.setPen(QColor(0xB8, 0xC8, 0xE4));
    p.drawText(QRect(128, 84, img.width() - 140, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Convert your videos for every player"));
    p.drawText(QRect(16, img.height() - 40, img.width() - 32, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Loading..."));
    p.setPen(QPen(QColor(0x3A, 0x5A, 0x90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(img.rect().adjusted(0, 0, -1, -1));
    return img;
}

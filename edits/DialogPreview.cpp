#include "edits/DialogPreview.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QToolButton>

#include <filesystem>

#include <unistd.h>

#include "platform/ProgramFolder.h"
#include "platform/qt/PlainText.h"
#include "player/FFPlay.h"

namespace {
TEditWarning& Warning() {
    static TEditWarning warning;
    return warning;
}
}  // namespace

QString SourceProblem(const std::string& path) {
    if (path.empty()) return QStringLiteral("The job has no source file.");
    // Asked of the bytes: a name that is not UTF-8 would not come back from the characters.
    const QString name = QString::fromStdString(path);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return QStringLiteral("The source file \"%1\" does not exist.").arg(name);
    if (!std::filesystem::is_regular_file(path, ec) || ::access(path.c_str(), R_OK) != 0)
        return QStringLiteral("The source file \"%1\" cannot be read.").arg(name);
    return {};
}

bool EnsurePlayerLibraries(TFFPlayer& player, QString& error) {
    if (player.LibrariesLoaded() || player.LoadLibraries(ProgramFolder() + "/LibAV")) return true;
    error = QString::fromStdString(player.LastError());
    return false;
}

QString ShortSourceName(const std::string& path, int limit, int head) {
    const QString name = QString::fromStdString(path);
    if (name.size() < limit) return name;
    const std::string ext = std::filesystem::path(path).extension().string();
    return name.left(head) + ".." + QString::fromStdString(ext) + "  ";
}

void OutlineCrop(TFrameBitmap& frame, const TlvFilesRecord& job, int inset, int farInset) {
    if (frame.Empty()) return;
    QImage image(frame.Bits(), frame.Width(), frame.Height(), frame.Stride(), QImage::Format_BGR888);
    QPainter p(&image);
    p.setPen(QPen(QColor(0, 128, 0), 2, Qt::SolidLine));
    p.setBrush(Qt::NoBrush);
    const int l = job.CropMarginLeft + inset, t = job.CropMarginTop + inset;
    const int r = frame.Width() - job.CropMarginRight - farInset;
    const int b = frame.Height() - job.CropMarginBottom - farInset;
    p.drawRect(QRect(QPoint(l, t), QPoint(r, b)));
}

void SetEditWarning(TEditWarning warning) { Warning() = std::move(warning); }

void ShowEditWarning(QWidget* parent, const QString& caption, const QString& text) {
    if (Warning())
        Warning()(parent, caption, text);
    else
        PlainWarning(parent, caption, text);
}

TArrowSpinBox::TArrowSpinBox(QWidget* parent) : QSpinBox(parent) { lineEdit()->setReadOnly(true); }

TSelectionSlider::TSelectionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
}

void TSelectionSlider::SetSelection(int start, int end) {
    FSelStart = start;
    FSelEnd = end;
    update();
}

void TSelectionSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (FSelEnd <= FSelStart || maximum() <= minimum()) return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const int span = groove.width();
    auto at = [&](int v) {
        return groove.left() + int(double(v - minimum()) / double(maximum() - minimum()) * span);
    };
    QPainter p(this);
    p.fillRect(QRect(QPoint(at(FSelStart), groove.bottom() + 1), QPoint(at(FSelEnd), groove.bottom() + 3)),
               QColor(0, 120, 215));
}

QToolButton* AddPreviewButton(QHBoxLayout& row, const char* name, QStyle::StandardPixmap icon, const char* hint) {
    auto* b = new QToolButton;
    b->setObjectName(name);
    b->setIcon(b->style()->standardIcon(icon));
    b->setToolTip(hint);
    row.addWidget(b);
    return b;
}

void SeekOnRelease(const QEvent& event, const QSlider& bar, TFFPlayer& player, std::int64_t duration, bool& seeking) {
    if (event.type() != QEvent::MouseButtonPress && event.type() != QEvent::MouseButtonRelease) return;
    if (static_cast<const QMouseEvent&>(event).button() != Qt::LeftButton) return;
    if (event.type() == QEvent::MouseButtonPress) {
        seeking = true;
        return;
    }
    const int max = bar.maximum();
    if (max > 0 && duration > 0) player.Seek(0, false, std::int64_t(double(bar.value()) / max * double(duration)));
    seeking = false;
}

QString PreviewProblem(TFFPlayer& player, const std::string& source) {
    QString error = SourceProblem(source);
    if (error.isEmpty() && !EnsurePlayerLibraries(player, error))
        error = QStringLiteral("The player's libraries cannot be loaded: %1").arg(error);
    return error;
}

TDialogButtons AddDialogButtons(QBoxLayout& root) {
    auto* bottom = new QHBoxLayout;
    TDialogButtons b{new QPushButton("&Default"), new QPushButton("Ok"), new QPushButton("Cancel")};
    b.Default->setObjectName("btnDefault");
    b.Ok->setObjectName("btnOk");
    b.Ok->setDefault(true);
    b.Cancel->setObjectName("btnCancel");
    bottom->addWidget(b.Default);
    bottom->addStretch(1);
    bottom->addWidget(b.Ok);
    bottom->addWidget(b.Cancel);
    root.addLayout(bottom);
    return b;
}

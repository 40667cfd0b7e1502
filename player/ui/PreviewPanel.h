#pragma once
// The player's picture surface: a grey panel that paints the picture it is handed, in the
// shape the player asks for, centred.
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

#include "player/VideoSink.h"

class TPreviewPanel : public QWidget, public VideoSink {
    Q_OBJECT
public:
    explicit TPreviewPanel(QWidget* parent = nullptr);

    // VideoSink: called on the player's thread.
    void ShowPicture(const TShownPicture& shown) override;
    void ClearPicture() override;
    int SurfaceWidth() const override { return FWidth.load(); }
    int SurfaceHeight() const override { return FHeight.load(); }
    unsigned long SurfaceHandle() const override { return FHandle; }

    bool HasPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    mutable std::mutex FMutex;
    std::shared_ptr<const TFrameBitmap> FPicture;
    double FAspect = 0;
    std::atomic<int> FWidth{0}, FHeight{0};
    unsigned long FHandle = 0;
};

#include <gtest/gtest.h>

#include <QEvent>
#include <stdexcept>

#include "app/Application.h"
#include "engine/FFmpegException.h"
#include "tests/app/AppTestSupport.h"

TEST(ErrorHandler, AppendsAPeriodOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorMessageText("Could not open file"), "Could not open file.");
    EXPECT_EQ(ErrorMessageText("Done."), "Done.");
    EXPECT_EQ(ErrorMessageText("Failed!"), "Failed!");   // '!' sorts before '.'
    EXPECT_EQ(ErrorMessageText("code -22)"), "code -22)");
    EXPECT_EQ(ErrorMessageText("Unknown encoder 'x'"), "Unknown encoder 'x'");
    EXPECT_EQ(ErrorMessageText("path a/"), "path a/.");  // '/' sorts after '.'
    EXPECT_EQ(ErrorMessageText("value 0"), "value 0.");
    EXPECT_EQ(ErrorMessageText("trailing "), "trailing ");
    EXPECT_EQ(ErrorMessageText(""), "");
    EXPECT_EQ(ErrorMessageText("n\xC3\xA9"), "n\xC3\xA9.");  // non-ASCII letters sort high
}

TEST(ErrorHandler, EngineErrorsWarnOtherErrorsAlarmCaptionedWithTheTitle) {
    apptest::App();
    apptest::TRecordedBoxes boxes;
    SetApplicationTitle("Zanto MP4 to AVI Converter");
    HandleApplicationError(std::make_exception_ptr(FFmpegException("Could not open codec")), boxes);
    HandleApplicationError(std::make_exception_ptr(std::runtime_error("Disk full")), boxes);
    HandleApplicationError(std::make_exception_ptr(42), boxes);
    ASSERT_EQ(boxes.Shown.size(), 3u);
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(boxes.Shown[0].Text, "Could not open codec.");
    EXPECT_EQ(boxes.Shown[1].Icon, TMessageIcon::Error);
    EXPECT_EQ(boxes.Shown[1].Text, "Disk full.");
    EXPECT_EQ(boxes.Shown[2].Icon, TMessageIcon::Error);
    for (const auto& shown : boxes.Shown) EXPECT_EQ(shown.Caption, "Zanto MP4 to AVI Converter");
}

namespace {
class TThrowingObject : public QObject {
public:
    int Events = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++Events;
            throw FFmpegException("Could not write header");
        }
        return QObject::event(e);
    }
};
}  // namespace

TEST(ErrorHandler, AnErrorEscapingAnEventHandlerIsShownAndTheProgramRunsOn) {
    apptest::App();
    apptest::TRecordedBoxes boxes;
    TThrowingObject target;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&target, &first);
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(target.Events, 2);
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(boxes.Shown[0].Text, "Could not write header.");
}

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include <filesystem>

#include "app/WinCover.h"
#include "skin/Skin.h"
#include "tests/app/AppTestSupport.h"

using testsupport::TempDir;

TEST(Skin, SevenNamedSkinsEachTintListRowsTheirOwnWay) {
    apptest::App();
    const char* names[] = {"Default", "Gray", "Orange", "Purple", "Red", "Green", "Light blue"};
    const QRgb rows[] = {0xE2E6F6, 0xECECEC, 0xF8F2E0, 0xF6E6F1, 0xF7E1E1, 0xE2F7E1, 0xE1F0F7};
    for (int i = 0; i < skin::SkinCount; ++i) {
        EXPECT_EQ(skin::SkinName(i), names[i]);
        EXPECT_EQ(skin::AlternateRowColor(i).rgb() & 0xFFFFFF, rows[i]);
    }
    EXPECT_EQ(skin::AlternateRowColor(7).rgb() & 0xFFFFFF, 0xEBEBEBu);
    EXPECT_EQ(skin::AlternateRowColor(-1).rgb() & 0xFFFFFF, 0xEBEBEBu);
}

TEST(Skin, ApplyingChangesTheWholeApplicationAndAnInvalidIndexChangesNothing) {
    apptest::App();
    skin::ApplySkin(2);
    EXPECT_EQ(skin::CurrentSkin(), 2);
    const QColor orange = QApplication::palette().color(QPalette::Highlight);
    skin::ApplySkin(4);
    EXPECT_NE(QApplication::palette().color(QPalette::Highlight), orange);
    skin::ApplySkin(7);
    skin::ApplySkin(-1);
    EXPECT_EQ(skin::CurrentSkin(), 4);
    EXPECT_EQ(QApplication::palette().color(QPalette::Highlight), skin::SkinPalette(4).color(QPalette::Highlight));
    // A window made afterwards takes the skin without being told.
    QWidget later;
    EXPECT_EQ(later.palette().color(QPalette::Window), skin::SkinPalette(4).color(QPalette::Window));
    skin::ApplySkin(0);
}

TEST(Cover, KeepsItsOwnPictureWithoutCoverFiles) {
    apptest::App();
    TempDir dir;
    TfrmCover cover(QString::fromStdString(dir.path().string()), "Zanto MP4 to AVI Converter");
    EXPECT_FALSE(cover.Picture().isNull());
    EXPECT_EQ(cover.Picture().size(), TfrmCover::BuiltInPicture("x").size());
}

TEST(Cover, TheMp4AviPictureReplacesTheVideoPicture) {
    apptest::App();
    TempDir dir;
    std::filesystem::create_directory(dir.file("skin"));
    QImage a(120, 90, QImage::Format_RGB32), b(200, 150, QImage::Format_RGB32);
    a.fill(Qt::red);
    b.fill(Qt::blue);
    const QString folder = QString::fromStdString(dir.path().string());
    ASSERT_TRUE(a.save(folder + "/skin/videocover.jpg", "JPG"));
    {
        TfrmCover cover(folder, "t");
        EXPECT_EQ(cover.Picture().size(), QSize(120, 90));
    }
    ASSERT_TRUE(b.save(folder + "/skin/mp4avicover.jpg", "JPG"));
    TfrmCover cover(folder, "t");
    EXPECT_EQ(cover.Picture().size(), QSize(200, 150));
    cover.ShowNow();
    EXPECT_EQ(cover.size(), QSize(200, 150));
}

TEST(Cover, ClosesOnceTheMainWindowShows) {
    apptest::App();
    TempDir dir;
    TfrmCover cover(QString::fromStdString(dir.path().string()), "t");
    QWidget main;
    cover.SetMainWindow(&main);
    cover.ShowNow();
    QTest::qWait(1200);
    EXPECT_TRUE(cover.isVisible());
    main.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !cover.isVisible(); }, 2500));
}

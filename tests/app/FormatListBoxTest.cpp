#include "formats/ui/FormatListBox.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A window with the box, its arrow and the list, as the main window has them.
struct TFormatListTest : ::testing::Test {
    TFormatListTest() {
        window.resize(500, 520);
        auto* layout = new QVBoxLayout(&window);
        layout->addStretch(1);
        other = new QPushButton("other", &window);
        layout->addWidget(other);
        box = new QLineEdit(&window);
        box->setReadOnly(true);
        layout->addWidget(box);
        arrow = new QToolButton(&window);
        layout->addWidget(arrow);
        list = new TFormatListBox(&window);
        list->SetSettingsFile(settingsPath);
        list->SetEdition(TEdition::Mp4Avi);
        list->SetFormatBox(box, arrow);
    }
    void Show() {
        window.show();
        list->BuildCatalogue();
    }
    int RowOf(const std::string& text) const { return list->Catalogue().FindRow(text); }
    QPoint RowPoint(int row, int x) const {
        const QRect r = list->visualRect(list->model()->index(row, 0));
        return {x, r.center().y()};
    }
    int CategoryCount() const { return int(CatalogueCategories(TEdition::Mp4Avi).size()); }

    apptest::TUsesApp app;
    TempDir dir;
    std::string settingsPath = dir.file("s.ini");
    QWidget window;
    QPushButton* other;
    QLineEdit* box;
    QToolButton* arrow;
    TFormatListBox* list;
};

}  // namespace

TEST_F(TFormatListTest, AMissingCollapseStateStartsCollapsedAndAnUnknownNameSelectsNothing) {
    WriteFile(settingsPath, "[settings]\nFormatName=No Such Format (*.xyz)\n");
    Show();
    EXPECT_EQ(list->model()->rowCount(), CategoryCount());
    EXPECT_EQ(box->text(), "No Such Format (*.xyz)");
    EXPECT_EQ(list->SelectedRow(), -1);
    EXPECT_FALSE(list->isVisible());
}

TEST_F(TFormatListTest, ShowingSelectsTheStoredFormatAndGrowsUpwardFromTheBox) {
    WriteFile(settingsPath, "[settings]\nFormatName=  AVI Video (*.avi)  \n[lstformat]\n1=0\n");
    Show();
    list->ShowList(false);
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->SelectedRow(), RowOf("AVI Video (*.avi)"));
    const int rows = CategoryCount() + 10;
    EXPECT_EQ(list->height(), rows * 20 > 362 ? 362 : (rows + 1) * 20);
    EXPECT_EQ(list->geometry().bottom() + 1, box->geometry().top());
    EXPECT_EQ(list->x(), box->x());
    // Showing again hides.
    list->ShowList(false);
    EXPECT_FALSE(list->isVisible());
}

TEST_F(TFormatListTest, PressingNearTheLeftEdgeTogglesACategoryAndTheBottomStaysPut) {
    Show();
    list->ShowList(false);
    const int bottom = list->geometry().bottom();
    const int video = RowOf("General Video formates");
    ASSERT_GE(video, 0);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, RowPoint(video, 8));
    EXPECT_EQ(list->model()->rowCount(), CategoryCount() + 10);
    EXPECT_FALSE(list->Catalogue().Row(video).Collapsed);
    EXPECT_EQ(list->geometry().bottom(), bottom);
    EXPECT_EQ(list->height(), list->ListHeight());
    // A press on the text of a category does not toggle it.
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, RowPoint(video, 100));
    EXPECT_EQ(list->model()->rowCount(), CategoryCount() + 10);
    EXPECT_TRUE(list->isVisible());
    // A double click toggles wherever it lands.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, RowPoint(video, 100));
    EXPECT_EQ(list->model()->rowCount(), CategoryCount());
    EXPECT_TRUE(list->Catalogue().Row(video).Collapsed);
}

TEST_F(TFormatListTest, PickingAFormatStoresItShowsItAndHidesTheList) {
    WriteFile(settingsPath, "[lstformat]\n2=0\n");
    Show();
    QString pickedName;
    int pickedCode = -1;
    QObject::connect(list, &TFormatListBox::FormatPicked, [&](const QString& n, int c) {
        pickedName = n;
        pickedCode = c;
    });
    list->ShowList(false);
    const int row = RowOf("WAV - Waveform Audio (*.wav)");
    ASSERT_GE(row, 0);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, RowPoint(row, 60));
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(box->text(), "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(pickedName, "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(pickedCode, 204);
    IniFile s(settingsPath);
    EXPECT_EQ(s.ReadString("settings", "FormatName", ""), "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(s.ReadString("settings", "FormatCode", ""), "204");
}

TEST_F(TFormatListTest, AListThatDoesNotStoreOnlyReportsThePick) {
    WriteFile(settingsPath, "[lstformat]\n0=0\n");
    list->SetStoresChoice(false);
    Show();
    list->PickRow(RowOf("AVI - Audio-Video-Interleaved(*.avi)"));
    EXPECT_EQ(box->text(), "AVI - Audio-Video-Interleaved(*.avi)");
    EXPECT_FALSE(IniFile(settingsPath).ValueExists("settings", "FormatCode"));
}

TEST_F(TFormatListTest, HoveringSelectsTheRowUnderThePointer) {
    WriteFile(settingsPath, "[lstformat]\n1=0\n");
    Show();
    list->ShowList(false);
    const int row = RowOf("MPEG-2 Video (*.mpg)");
    QTest::mouseMove(list->viewport(), RowPoint(row, 80));
    EXPECT_EQ(list->SelectedRow(), row);
}

TEST_F(TFormatListTest, APressElsewhereHidesTheListButTheBoxAndArrowDoNot) {
    Show();
    QTest::mouseClick(arrow, Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    QTest::mousePress(box, Qt::LeftButton);
    EXPECT_TRUE(list->isVisible());
    QTest::mousePress(other, Qt::LeftButton);
    EXPECT_FALSE(list->isVisible());
    QTest::mouseRelease(other, Qt::LeftButton);
    // A click on the box drops the list.
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(list->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_FALSE(list->isVisible());
}

TEST_F(TFormatListTest, TheCollapseStateIsSavedPerCategory) {
    WriteFile(settingsPath, "[lstformat]\n1=0\n");
    Show();
    list->ToggleRow(RowOf("General Audio formates"));
    list->ToggleRow(RowOf("General Video formates"));
    list->SaveCollapseState();
    IniFile s(settingsPath);
    EXPECT_TRUE(s.ReadBool("lstformat", "0", false));
    EXPECT_TRUE(s.ReadBool("lstformat", "1", false));
    EXPECT_FALSE(s.ReadBool("lstformat", "2", true));
}

#include "app/JobList.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <random>

#include "app/WinMain.h"
#include "formats/Catalogue.h"
#include "formats/ui/FormatListBox.h"
#include "platform/IniFile.h"
#include "skin/Skin.h"
#include "tests/app/AppTestSupport.h"

using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

struct TJobListTest : ::testing::Test, apptest::TMainWindowFixture {
    TJobListTest() {
        a = Copy(apptest::Clip("a.mp4"), "a.mp4");
        b = Copy(apptest::Clip("a.mp4"), "b.mp4");
        c = Copy(apptest::Clip("a.mp4"), "c.mp4");
    }
    std::string Copy(const std::string& from, const std::string& name) {
        fs::copy_file(from, dir.file(name), fs::copy_options::overwrite_existing);
        return dir.file(name);
    }
    TfrmMain& W() { return Window(); }
    TJobListView& List() { return *W().JobList(); }
    int Add(std::initializer_list<std::string> paths) {
        QStringList list;
        for (const auto& p : paths) list << QString::fromStdString(p);
        return W().AddFiles(list);
    }
    QString Text(int row, int column) { return List().Row(row)->text(column); }
    QAction* Action(const char* name) { return W().findChild<QAction*>(name); }

    std::string a, b, c;
};

// Random bytes whose first ones are a picture start code: the demuxers take the file for a
// raw H.263 stream that has no picture size.
void WriteLookalike(const std::string& path) {
    std::string bytes = {'\x00', '\x00', '\x80', '\x02', '\x1c'};
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) bytes += char(random() & 0xFF);
    WriteFile(path, bytes);
}

}  // namespace

TEST_F(TJobListTest, ColumnsHaveTheirCaptionsAndWidthsAndAnAddedRowIsCheckedWithItsLengths) {
    QTreeWidgetItem* header = List().headerItem();
    const char* captions[] = {"Source", "Length", "Trimmed Length", "Destination File", "Progress"};
    const int widths[] = {140, 65, 90, 120, 60};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(header->text(i), captions[i]);
        EXPECT_EQ(List().columnWidth(i), widths[i]);
    }
    EXPECT_FALSE(List().header()->sectionsClickable());
    EXPECT_FALSE(Action("btnStartTool")->isEnabled());

    ASSERT_EQ(Add({a}), 1);
    EXPECT_EQ(Text(0, 0).toStdString(), a);
    EXPECT_EQ(Text(0, 1), "1");
    EXPECT_EQ(Text(0, 2), "1");
    EXPECT_EQ(Text(0, 3), "a_(new).avi");
    EXPECT_EQ(Text(0, 4), "");
    EXPECT_TRUE(List().Row(0)->Checked());
    for (const char* name : {"btnStartTool", "mnuStart", "btnRemove", "btnClear", "mnuRemove", "mnuClear"})
        EXPECT_TRUE(Action(name)->isEnabled()) << name;
    EXPECT_TRUE(W().findChild<QPushButton*>("btnStart")->isEnabled());
}

TEST_F(TJobListTest, EachRowOwnsAFreshRecordWithTheStoredZoomMode) {
    IniFile(SettingsPath).WriteString("formatInfo0", "PARAZOOM", "pan");
    W();
    IniFile(SettingsPath).WriteString("settings", "FormatCode", "0");
    Add({a, b});
    TlvFilesRecord expected;
    expected.SourceFile = b;
    expected.ZoomMode = "pan";
    ASSERT_NE(W().JobRecord(1), nullptr);
    EXPECT_EQ(*W().JobRecord(1), expected);
    EXPECT_EQ(W().JobRecord(0)->SourceFile, a);
    EXPECT_EQ(W().JobRecord(2), nullptr);
    EXPECT_EQ(W().SelectedJobRecord(), W().JobRecord(0));
}

TEST_F(TJobListTest, TheSamePathTwiceGivesOneRowAndAnotherLetterCaseTwo) {
    const std::string upper = Copy(a, "A.mp4");
    EXPECT_EQ(Add({a}), 1);
    EXPECT_EQ(Add({a}), 0);
    EXPECT_EQ(List().RowCount(), 1);
    EXPECT_EQ(Add({upper}), 1);
    EXPECT_EQ(List().RowCount(), 2);
}

TEST_F(TJobListTest, TheDestinationIsTheNameTheRunWritesAndFollowsTheFormatTheFolderAndTheList) {
    const std::string out = home.Path() + "/reelshift";
    fs::create_directories(out);
    WriteFile(out + "/c_(new).avi", "taken");
    Add({a, b, c});
    EXPECT_EQ(Text(0, 3), "a_(new).avi");
    EXPECT_EQ(Text(1, 3), "b_(new).avi");
    EXPECT_EQ(Text(2, 3), "c_(new_1).avi");

    // Another format: its extension; the rows follow at once.
    TFormatListBox* formats = W().FormatList();
    const std::string mp3 = CatalogueFormatName(CompiledEdition(), 200);
    if (formats->Catalogue().FindRow(mp3) < 0)
        formats->ToggleRow(formats->Catalogue().FindRow(CatalogueCategories(CompiledEdition())[2].Name));
    formats->PickRow(formats->Catalogue().FindRow(mp3));
    const std::string ext = IniFile(W().Global()->FormatFile()).ReadString("formatInfo200", "FileExt", "avi");
    ASSERT_NE(ext, "avi");
    EXPECT_EQ(Text(2, 3).toStdString(), "c_(new)." + ext);

    // Another folder, where a's name is taken.
    const std::string other = dir.file("other");
    fs::create_directories(other);
    WriteFile(other + "/a_(new)." + ext, "taken");
    W().findChild<QLineEdit*>("edtOutputDir")->setText(QString::fromStdString(other));
    EXPECT_EQ(Text(0, 3).toStdString(), "a_(new_1)." + ext);
    EXPECT_EQ(Text(1, 3).toStdString(), "b_(new)." + ext);

    // A name that came free while the row was listed is offered again when the list changes.
    fs::remove(other + "/a_(new)." + ext);
    List().SelectRow(2);
    Action("btnRemove")->trigger();
    EXPECT_EQ(Text(0, 3).toStdString(), "a_(new)." + ext);
}

TEST_F(TJobListTest, AfterAnyAddTheFirstRowIsSelectedAndFocused) {
    Add({a});
    List().SelectRow(-1);
    Add({b, c});
    EXPECT_EQ(List().SelectedIndex(), 0);
    EXPECT_EQ(List().currentItem(), List().Row(0));
}

TEST_F(TJobListTest, RemovingTheLastOfThreeSelectsTheNewLastAndTheOnlyOneLeavesNoSelection) {
    Add({a, b, c});
    List().SelectRow(2);
    Action("btnRemove")->trigger();
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(List().SelectedIndex(), 1);
    EXPECT_EQ(Text(1, 0).toStdString(), b);

    List().SelectRow(0);
    Action("mnuRemove")->trigger();
    EXPECT_EQ(List().SelectedIndex(), 0);  // the row now standing there
    EXPECT_EQ(Text(0, 0).toStdString(), b);

    Action("btnRemove")->trigger();
    EXPECT_EQ(List().RowCount(), 0);
    EXPECT_EQ(List().SelectedIndex(), -1);
}

TEST_F(TJobListTest, RemoveWithoutASelectionDoesNothingAndClearEmptiesTheList) {
    Add({a, b});
    List().SelectRow(-1);
    Action("btnRemove")->trigger();
    EXPECT_EQ(List().RowCount(), 2);
    Action("mnuClear")->trigger();
    EXPECT_EQ(List().RowCount(), 0);
    Action("btnClear")->trigger();  // nothing left: nothing happens
    EXPECT_EQ(List().RowCount(), 0);
    EXPECT_EQ(Add({a}), 1);  // and the list takes files again
}

TEST_F(TJobListTest, CheckCommandsActOnEveryRowOrTheSelectedOne) {
    Add({a, b, c});
    List().Row(1)->SetChecked(false);
    emit W().findChild<QMenu*>("mnuEdit")->aboutToShow();  // the entries are enabled as the menu opens
    Action("mnuReverseCheck")->trigger();
    EXPECT_FALSE(List().Row(0)->Checked());
    EXPECT_TRUE(List().Row(1)->Checked());
    EXPECT_FALSE(List().Row(2)->Checked());

    Action("mnuCheckAll")->trigger();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(List().Row(i)->Checked());
    Action("mnuUncheckAll")->trigger();
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(List().Row(i)->Checked());
    List().SelectRow(2);
    Action("mnuCheck")->trigger();
    EXPECT_TRUE(List().Row(2)->Checked());
    EXPECT_FALSE(List().Row(1)->Checked());
    Action("mnuUncheck")->trigger();
    EXPECT_FALSE(List().Row(2)->Checked());
}

TEST_F(TJobListTest, AClickOnTheCheckBoxOrTheSpaceKeyTogglesTheCheck) {
    Add({a, b});
    const QRect box = List().CheckBoxRect(1);
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_FALSE(List().Row(1)->Checked());
    EXPECT_EQ(List().SelectedIndex(), 1);
    // A click on the text selects without toggling.
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, box.center() + QPoint(60, 0));
    EXPECT_FALSE(List().Row(1)->Checked());
    QTest::keyClick(&List(), Qt::Key_Space);
    EXPECT_TRUE(List().Row(1)->Checked());
}

TEST_F(TJobListTest, MenusFollowTheListAndItsSelection) {
    auto* edit = W().findChild<QMenu*>("mnuEdit");
    auto* popup = W().findChild<QMenu*>("pmnFiles");
    ASSERT_TRUE(edit && popup);
    auto popupAction = [&](const char* name) { return popup->findChild<QAction*>(name); };

    emit edit->aboutToShow();
    emit popup->aboutToShow();
    for (const char* name : {"mnuCheckAll", "mnuUncheckAll", "mnuReverseCheck", "mnuCheck", "mnuUncheck"})
        EXPECT_FALSE(Action(name)->isEnabled()) << name;
    EXPECT_TRUE(popupAction("pmnAdd")->isEnabled());
    for (const char* name : {"pmnRemove", "pmnClear", "pmnStart", "pmnCrop", "pmnTrim", "pmnEffect", "pmnInfo"})
        EXPECT_FALSE(popupAction(name)->isEnabled()) << name;
    for (const char* name : {"mnuCrop", "mnuTrim", "mnuEffect"}) EXPECT_FALSE(Action(name)->isEnabled()) << name;

    Add({a});
    List().SelectRow(-1);
    emit edit->aboutToShow();
    EXPECT_FALSE(Action("mnuCheckAll")->isEnabled());  // a row, but none selected

    List().SelectRow(0);
    emit edit->aboutToShow();
    emit popup->aboutToShow();
    for (const char* name : {"mnuCheckAll", "mnuUncheckAll", "mnuReverseCheck", "mnuCheck", "mnuUncheck"})
        EXPECT_TRUE(Action(name)->isEnabled()) << name;
    for (const char* name : {"pmnAdd", "pmnRemove", "pmnClear", "pmnStart"})
        EXPECT_TRUE(popupAction(name)->isEnabled()) << name;
    for (const char* name : {"mnuCrop", "mnuTrim", "mnuEffect"}) {
        EXPECT_TRUE(Action(name)->isEnabled()) << name;
        EXPECT_TRUE(Action(name)->isVisible()) << name;
    }
    for (const char* name : {"pmnCrop", "pmnTrim", "pmnEffect", "pmnInfo"})
        EXPECT_TRUE(popupAction(name)->isEnabled()) << name;
    EXPECT_EQ(popupAction("pmnEffect")->text(), "&Video Effect && Water Mark");
    EXPECT_EQ(popupAction("pmnInfo")->text(), "Video Infomation");
}

TEST_F(TJobListTest, TheRightButtonAndTheEditButtonOpenThePopUpMenu) {
    Add({a, b});
    auto* popup = W().findChild<QMenu*>("pmnFiles");
    const QRect box = List().CheckBoxRect(1);
    QTest::mousePress(List().viewport(), Qt::RightButton, {}, box.center() + QPoint(40, 0));
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(List().SelectedIndex(), 1);
    popup->hide();
    Action("btnEdit")->trigger();
    EXPECT_TRUE(popup->isVisible());
    popup->hide();
}

TEST_F(TJobListTest, BadInputAtEveryDoorLeavesOnlyTheTwoGoodClips) {
    fs::create_directories(dir.file("folder.mp4"));
    WriteFile(dir.file("empty.mp4"), "");
    WriteLookalike(dir.file("random.mp4"));
    WriteFile(dir.file("words.txt"), "[ar:Someone]\n[ti:Song]\n[00:01.00]First line\n[00:03.50]Second line\n");
    const int added = Add({dir.file("folder.mp4"), a, dir.file("empty.mp4"), dir.file("random.mp4"),
                           dir.file("words.txt"), dir.file("missing.mp4"), b});
    EXPECT_EQ(added, 2);
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(Text(0, 0).toStdString(), a);
    EXPECT_EQ(Text(1, 0).toStdString(), b);
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(W().CCAVC().TaskCount(), 0);  // probing tasks are gone again
}

TEST_F(TJobListTest, FilesDroppedOnTheListAreAddedByTheSameRules) {
    Add({a});
    // A dropped folder brings the files below it that the add filter takes, in name order;
    // the others are named once.
    const std::string folder = dir.file("dropped");
    std::filesystem::create_directories(folder + "/sub");
    std::filesystem::copy_file(a, folder + "/sub/c.mp4");
    WriteFile(folder + "/notes.txt", "not a video");
    // Names that are not UTF-8 (Latin-1 "d\xe9" and "\xe9t\xe9"), in the folder and dropped
    // alone: a file manager sends their bytes percent-encoded.
    const std::string latin1 = dir.file("\xe9t\xe9.mp4");
    std::filesystem::copy_file(a, folder + "/sub/d\xe9.mp4");
    std::filesystem::copy_file(a, latin1);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(b)), QUrl::fromLocalFile(QString::fromStdString(a)),
                  QUrl::fromLocalFile(QString::fromStdString(folder)), QUrl("https://example.com/c.mp4"),
                  QUrl::fromEncoded("file://" + QByteArray::fromStdString(latin1).toPercentEncoding("/"))});
    const QPoint at = List().viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(List().viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(List().viewport(), &drop);
    ASSERT_EQ(List().RowCount(), 5);
    EXPECT_EQ(Text(1, 0).toStdString(), b);
    EXPECT_EQ(Text(2, 0).toStdString(), folder + "/sub/c.mp4");
    EXPECT_EQ(W().JobRecord(3)->SourceFile, folder + "/sub/d\xe9.mp4");
    EXPECT_EQ(Text(3, 0), QString::fromStdString(folder + "/sub/d") + QChar(0xFFFD) + ".mp4");
    EXPECT_EQ(W().JobRecord(4)->SourceFile, latin1);
    EXPECT_EQ(Text(4, 0), QString::fromStdString(dir.file("")) + QChar(0xFFFD) + "t" + QChar(0xFFFD) + ".mp4");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("1 file in the folder is not")) << boxes.Shown[0].Text.toStdString();
    EXPECT_TRUE(boxes.Shown[0].Text.contains("notes.txt"));

    QMimeData text;
    text.setText("not a file");
    QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(List().viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(TJobListTest, RowsAreTintedByTheSkinAndCarryAHandDrawnCheckBoxAndTick) {
    skin::ApplySkin(0);
    Add({a, b, c});
    List().Row(2)->SetChecked(false);
    List().SelectRow(-1);
    List().setFocus();
    auto pixel = [&](int row, QPoint offset) {
        const QImage shot = List().viewport()->grab().toImage();
        const QRect box = List().CheckBoxRect(row);
        return shot.pixel(box.topLeft() + offset) & 0xFFFFFF;
    };
    auto background = [&](int row) { return pixel(row, QPoint(200, 1)); };
    EXPECT_EQ(background(0), 0xFFFFFFu);
    EXPECT_EQ(background(1), 0xE2E6F6u);
    EXPECT_EQ(background(2), 0xFFFFFFu);
    // The box's frame is black; a checked row's tick runs through (left + 6, top + 11).
    EXPECT_EQ(pixel(0, QPoint(0, 4)), 0u);
    EXPECT_EQ(pixel(0, QPoint(4, 9)), 0u);
    EXPECT_NE(pixel(2, QPoint(4, 9)), 0u);

    List().SelectRow(1);
    EXPECT_EQ(background(1), TJobListView::SelectedFocused & 0xFFFFFF);
    W().findChild<QPushButton*>("btnOpen")->setFocus();
    EXPECT_EQ(background(1), TJobListView::SelectedUnfocused & 0xFFFFFF);

    skin::ApplySkin(2);
    List().SelectRow(0);
    EXPECT_EQ(background(1), 0xF8F2E0u);
    skin::ApplySkin(0);
}

TEST_F(TJobListTest, FileAddOpensTheOpenDialogWithTheEditionsFilterFromTheKeyboard) {
    W();
    QFileDialog* seen = nullptr;
    QStringList filters;
    apptest::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        seen = dialog;
        filters = dialog->nameFilters();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        dialog->reject();
    });
    QTest::keyClick(&W(), Qt::Key_F, Qt::AltModifier);
    auto* file = W().findChild<QMenu*>("mnuFile");
    ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 2000));
    QTest::keyClick(file, Qt::Key_A);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen != nullptr; }, 5000));
    EXPECT_EQ(filters, QStringList({"MPEG4 files (*.mp4)", "Itunes Video files (*.m4v)", "MPEG-4 Audio files (*.m4a)"}));
    EXPECT_EQ(List().RowCount(), 0);  // cancelled: nothing added

    // Qt's list leaves out a name that is not UTF-8 (Latin-1 "café"): a button under it adds
    // such files of the folder shown, and only those.
    const std::string folder = dir.file("latin1");
    fs::create_directories(folder);
    fs::copy_file(a, folder + "/caf\xe9.mp4");
    fs::copy_file(a, folder + "/listed.mp4");
    WriteFile(folder + "/not\xe9.txt", "not a video");
    QString offered;
    apptest::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        auto* button = dialog->findChild<QPushButton*>("btnAddUnlisted");
        EXPECT_TRUE(button && !button->isVisible());
        dialog->setDirectory(QString::fromStdString(folder));
        if (button && QTest::qWaitFor([&] { return button->isVisible(); }, 2000)) {
            offered = button->text();
            button->click();
        }
        if (dialog->isVisible()) dialog->reject();
    });
    W().AddWithDialog();
    EXPECT_EQ(offered, QString("Add 1 file whose name the list cannot show: caf") + QChar(0xFFFD) + ".mp4");
    ASSERT_EQ(List().RowCount(), 1);
    EXPECT_EQ(W().JobRecord(0)->SourceFile, folder + "/caf\xe9.mp4");
}

TEST(JobListFilter, TheVideoEditionOffersThirtySixEntriesEndingWithAllFiles) {
    const QStringList filters = FileDialogFilters(AddFilesFilter(TEdition::Video));
    ASSERT_EQ(filters.size(), 36);
    EXPECT_TRUE(filters[0].startsWith("All Supported Video Formats (*.AVI *.AVM *.ASF"));
    EXPECT_EQ(filters[4], "MPEG files (*.mpg *.mpeg)");
    EXPECT_EQ(filters[35], "All files (*)");
    EXPECT_EQ(AddFilesFilter(TEdition::Mp4Avi),
              "MPEG4 files (*.mp4)|*.mp4|Itunes Video files (*.m4v)|*.m4v|MPEG-4 Audio files (*.m4a)|*.m4a");
}

TEST(JobListFilter, DurationsShowInWholeSecondsAndUnknownOnesAsZero) {
    EXPECT_EQ(WholeSecondsText(2999999), "2");
    EXPECT_EQ(WholeSecondsText(3000000), "3");
    EXPECT_EQ(WholeSecondsText(-1), "0");
}

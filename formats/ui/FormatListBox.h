#pragma once
// The pop-up list of output formats that drops from a read-only format box and its arrow
// button: bold category rows that expand and collapse, format rows under them. Used by the
// main window and, as a second copy, by the settings dialog.
#include <QListView>
#include <QPointer>

#include <memory>
#include <string>

#include "formats/Catalogue.h"

class QAbstractButton;
class QLineEdit;
class TFormatListModel;

class TFormatListBox : public QListView {
    Q_OBJECT
public:
    static constexpr int ItemHeight = 20;
    // Presses this close to the left edge expand or collapse a category.
    static constexpr int ToggleZone = 20;

    explicit TFormatListBox(QWidget* parent = nullptr);
    ~TFormatListBox() override;

    void SetEdition(TEdition edition) { FEdition = edition; }
    void SetSettingsFile(const std::string& path) { FSettingsFile = path; }
    // The box the list drops from and its arrow button; clicks on them show and hide it.
    void SetFormatBox(QLineEdit* box, QAbstractButton* arrow);
    // The main window's list stores every pick in the settings file; the settings dialog's
    // list only reports it.
    void SetStoresChoice(bool stores) { FStoresChoice = stores; }

    // Clears and fills the list from the catalogue and the stored collapse states, sizes and
    // places it, shows the stored format name in the box and selects its row.
    void BuildCatalogue();
    // Writes the collapse state of every category to the settings file.
    void SaveCollapseState() const;

    // Hides a visible list; otherwise shows it with the current format selected. With
    // movePointer the mouse pointer goes to the selected row.
    void ShowList(bool movePointer);
    void HideList();

    // Expands or collapses the category in row (other rows: nothing).
    void ToggleRow(int row);
    // Takes the format in row: stores it when this list stores choices, puts its name into
    // the box, reports it and hides the list. Category rows: nothing.
    void PickRow(int row);

    const TFormatCatalogueModel& Catalogue() const { return FCatalogue; }
    int SelectedRow() const;
    // The list's height for its current number of rows.
    int ListHeight() const;

signals:
    void FormatPicked(const QString& name, int code);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string StoredFormatName() const;
    void SelectText(const std::string& text);
    void Place();
    void Refill(int keepRow);
    bool IsCompanion(QObject* object) const;

    TEdition FEdition;
    std::string FSettingsFile;
    bool FStoresChoice = true;
    TFormatCatalogueModel FCatalogue;
    std::unique_ptr<TFormatListModel> FModel;
    QPointer<QLineEdit> FBox;
    QPointer<QAbstractButton> FArrow;
};

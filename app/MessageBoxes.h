#pragma once
// Every modal message the program shows goes through this interface, so that windows can
// be driven without a person in front of them.
#include <QString>

class QWidget;

enum class TMessageIcon { Information, Warning, Error, Question };

class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    // A box with an OK button.
    virtual void Show(QWidget* parent, TMessageIcon icon, const QString& caption, const QString& text) = 0;
    // A box with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// QMessageBox, modal.
TMessageBoxes& StandardMessageBoxes();

// The boxes in force: the standard ones unless replaced (an empty pointer restores them).
TMessageBoxes& MessageBoxes();
void SetMessageBoxes(TMessageBoxes* boxes);

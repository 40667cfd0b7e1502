#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {

class TStandardMessageBoxes : public TMessageBoxes {
public:
    void Show(QWidget* parent, TMessageIcon icon, const QString& caption, const QString& text) override {
        QMessageBox box(ToIcon(icon), caption, text, QMessageBox::Ok, Parent(parent));
        // The texts carry file names, feed values and library errors: never markup or links.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, Parent(parent));
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

private:
    static QWidget* Parent(QWidget* parent) { return parent ? parent : QApplication::activeWindow(); }
    static QMessageBox::Icon ToIcon(TMessageIcon icon) {
        switch (icon) {
            case TMessageIcon::Information: return QMessageBox::Information;
            case TMessageIcon::Warning: return QMessageBox::Warning;
            case TMessageIcon::Error: return QMessageBox::Critical;
            case TMessageIcon::Question: return QMessageBox::Question;
        }
        return QMessageBox::NoIcon;
    }
};

TMessageBoxes* FInForce = nullptr;

}  // namespace

TMessageBoxes& StandardMessageBoxes() {
    static TStandardMessageBoxes boxes;
    return boxes;
}

TMessageBoxes& MessageBoxes() { return FInForce ? *FInForce : StandardMessageBoxes(); }

void SetMessageBoxes(TMessageBoxes* boxes) { FInForce = boxes; }

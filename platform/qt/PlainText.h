#pragma once
// Texts from outside the program (file names, feed values, tags, library errors) shown as the
// characters they are: Qt guesses rich text for labels, message boxes and tool tips, which
// would let such a text put markup or a link of any kind in front of the user.
#include <QMessageBox>
#include <QString>

// Tool tips have no plain-text switch: the text is escaped inside a paragraph of its own.
inline QString PlainToolTip(const QString& text) {
    return text.isEmpty() ? text : "<p style='white-space:pre'>" + text.toHtmlEscaped() + "</p>";
}

// A modal warning whose text is never read as markup.
inline void PlainWarning(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

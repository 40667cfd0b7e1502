#pragma once
// The application object. It carries the application title (the caption of error boxes)
// and catches every error that escapes an event handler on the main thread, shows it and
// lets the program run on.
#include <QApplication>
#include <exception>
#include <string>

class TMessageBoxes;

// The message text as shown: a "." is appended when the text is not empty and its last
// character sorts after ".".
std::string ErrorMessageText(const std::string& message);

// Shows one caught error: engine errors with a warning icon, all others with an error icon,
// captioned with the application title.
void HandleApplicationError(std::exception_ptr error, TMessageBoxes& boxes);

// The application title; also the caption of error boxes.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

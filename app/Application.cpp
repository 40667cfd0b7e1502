#include "app/Application.h"

#include "app/MessageBoxes.h"
#include "engine/FFmpegException.h"

namespace {
QString& Title() {
    static QString title;
    return title;
}
}  // namespace

std::string ErrorMessageText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

QString ApplicationTitle() { return Title(); }
void SetApplicationTitle(const QString& title) { Title() = title; }

void HandleApplicationError(std::exception_ptr error, TMessageBoxes& boxes) {
    TMessageIcon icon = TMessageIcon::Error;
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const FFmpegException& e) {
        icon = TMessageIcon::Warning;
        text = e.what();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "Unknown error";
    }
    boxes.Show(nullptr, icon, ApplicationTitle(), QString::fromStdString(ErrorMessageText(text)));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleApplicationError(std::current_exception(), MessageBoxes());
        return false;
    }
}

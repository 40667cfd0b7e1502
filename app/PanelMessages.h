#pragma once
// The parameter boxes' messages shown through the program's message boxes, so that every
// window test sees them; plain messages carry the application title.
#include <QApplication>

#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "formats/ui/ParameterPanel.h"

class TAppPanelMessages : public TPanelMessages {
public:
    static TAppPanelMessages& Instance() {
        static TAppPanelMessages messages;
        return messages;
    }
    void ShowMessage(QWidget* parent, const QString& caption, const QString& text) override {
        MessageBoxes().Show(parent, TMessageIcon::Information, caption.isEmpty() ? ApplicationTitle() : caption, text);
    }
    void Beep() override { QApplication::beep(); }
};

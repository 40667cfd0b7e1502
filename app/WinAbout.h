#pragma once
// The About window: the program's name and version, its web site and the maker's notice.
#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class TGlobalObject;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 360;
    static constexpr int DefaultHeight = 190;

    explicit TfrmAbout(QWidget* parent = nullptr);

    // Shows the window modally with the title, version text and web site of global.
    void ShowAbout(const TGlobalObject& global);
    // Fills the window from global; ShowAbout calls it before waiting.
    void LoadAbout(const TGlobalObject& global);

private:
    void lblWebSiteClick();

    std::string FWebSite;
    QLabel* imgLogo = nullptr;
    QLabel* lblName = nullptr;
    QLabel* lblWebSite = nullptr;
    QLabel* lblNotice1 = nullptr;
    QLabel* lblNotice2 = nullptr;
    QPushButton* btnOk = nullptr;
};

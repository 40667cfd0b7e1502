#include "app/WinAbout.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "app/GlobalUnit.h"
#include "platform/qt/Shell.h"

namespace {
const char* const NoticeLine1 = "Copyright (C) 2026 ZantoSoft. All rights reserved.";
const char* const NoticeLine2 = "Built on the FFmpeg libraries (LGPL).";
}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");
    setFixedSize(DefaultWidth, DefaultHeight);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 12, 12, 10);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(6);

    imgLogo = new QLabel;
    imgLogo->setObjectName("imgLogo");
    imgLogo->setPixmap(style()->standardIcon(QStyle::SP_MediaPlay).pixmap(32, 32));
    grid->addWidget(imgLogo, 0, 0);

    lblName = new QLabel;
    lblName->setObjectName("lblName");
    QFont bold = lblName->font();
    bold.setBold(true);
    lblName->setFont(bold);
    grid->addWidget(lblName, 0, 1);

    lblWebSite = new QLabel;
    lblWebSite->setObjectName("lblWebSite");
    lblWebSite->setCursor(Qt::PointingHandCursor);
    // The link is opened by our own handler, never by the label, so it goes through the
    // same web-address check as every other address the program opens.
    lblWebSite->setOpenExternalLinks(false);
    lblWebSite->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(lblWebSite, &QLabel::linkActivated, this, [this](const QString&) { lblWebSiteClick(); });
    grid->addWidget(lblWebSite, 1, 0, 1, 2);

    lblNotice1 = new QLabel(NoticeLine1);
    lblNotice1->setObjectName("lblNotice1");
    lblNotice2 = new QLabel(NoticeLine2);
    lblNotice2->setObjectName("lblNotice2");
    grid->addWidget(lblNotice1, 2, 0, 1, 2);
    grid->addWidget(lblNotice2, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(btnOk);
    grid->addLayout(buttons, 5, 0, 1, 2);
}

void TfrmAbout::ShowAbout(const TGlobalObject& global) {
    LoadAbout(global);
    exec();
}

void TfrmAbout::LoadAbout(const TGlobalObject& global) {
    setWindowTitle("About");
    lblName->setText(QString::fromStdString(global.Title() + global.VersionText()));
    FWebSite = global.WebSiteAddress();
    const QString address = QString::fromStdString(FWebSite).toHtmlEscaped();
    lblWebSite->setText(QString("<a href=\"#\">%1</a>").arg(address));
}

void TfrmAbout::lblWebSiteClick() { shell::OpenWebAddress(FWebSite); }

// The start-up update check against a feed served on loopback.
#include "app/UpdateCheck.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <map>

#include "app/GlobalUnit.h"
#include "app/WinMain.h"
#include "app/WinProgress.h"
#include "platform/qt/Shell.h"
#include "tests/app/AppTestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A one-file web server on 127.0.0.1 in the test's own thread: the download's wait serves
// it. Silent accepts connections and never answers; TrickleMs > 0 sends the head at once and
// then the body one byte at a time, one every TrickleMs.
class TFeedServer : public QObject {
public:
    TFeedServer() {
        FServer.listen(QHostAddress::LocalHost, 0);
        connect(&FServer, &QTcpServer::newConnection, this, &TFeedServer::Accept);
    }
    std::string Address() const { return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + "/feed.xml"; }

    int Status = 200;
    std::string Body;
    bool Silent = false;
    int TrickleMs = 0;
    std::vector<std::string> Requests;

private:
    void Accept() {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                QByteArray& got = FPending[socket];
                got += socket->readAll();
                if (!got.contains("\r\n\r\n")) return;
                Requests.push_back(got.toStdString());
                if (Silent) return;
                const std::string head = "HTTP/1.1 " + std::to_string(Status) +
                                         " Status\r\nContent-Type: text/xml\r\nContent-Length: " +
                                         std::to_string(Body.size()) + "\r\nConnection: close\r\n\r\n";
                if (TrickleMs <= 0) {
                    socket->write(QByteArray::fromStdString(head + Body));
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(QByteArray::fromStdString(head));
                auto* timer = new QTimer(socket);
                auto rest = std::make_shared<std::string>(Body);
                connect(timer, &QTimer::timeout, socket, [socket, rest] {
                    if (rest->empty()) return socket->disconnectFromHost();
                    socket->write(rest->data(), 1);
                    rest->erase(0, 1);
                });
                timer->start(TrickleMs);
            });
        }
    }
    QTcpServer FServer;
    std::map<QTcpSocket*, QByteArray> FPending;
};

// An address on loopback where nothing listens.
std::string ClosedAddress() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const std::string address = "http://127.0.0.1:" + std::to_string(probe.serverPort()) + "/feed.xml";
    probe.close();
    return address;
}

std::string Feed(const std::string& version, const std::string& count,
                 const std::vector<std::pair<std::string, std::string>>& rows = {},
                 const std::string& root = "XMLPackage") {
    std::string xml = "<?xml version=\"1.0\"?>\n<" + root + ">\n  <count number=\"" + count +
                      "\"/>\n  <videoversion number=\"" + version + "\"/>\n";
    for (size_t i = 0; i < rows.size(); ++i)
        xml += "  <row" + std::to_string(i) + " info=\"" + rows[i].first + "\" url=\"" + rows[i].second + "\"/>\n";
    return xml + "</" + root + ">\n";
}

// Counts the addresses handed to the desktop instead of opening them.
struct TFakeShell {
    TFakeShell() {
        shell::SetUrlOpener([this](const QUrl& url) {
            Opened.push_back(url.toString().toStdString());
            return Answer;
        });
    }
    ~TFakeShell() { shell::SetUrlOpener(nullptr); }
    std::vector<std::string> Opened;
    bool Answer = true;  // the desktop took the address
};

struct TUpdateCheckTest : ::testing::Test, apptest::TUsesApp {
    TUpdateCheckSettings Settings(const std::string& address) const {
        TUpdateCheckSettings s;
        s.FeedAddress = address;
        s.Folder = dir.path().string();
        s.VersionText = " 3.300 ";
        s.Title = "Zanto MP4 to AVI Converter";
        s.DownloadAddress = "https://www.zantosoft.com/download/zanto-mp4-to-avi-converter.tar.gz";
        s.TimeoutMs = 3000;
        return s;
    }
    TUpdateCheckResult Check(const std::string& address) { return RunUpdateCheck(Settings(address), nullptr); }
    std::string FeedPath() const { return dir.file(FeedFileName); }
    std::string CachePath() const { return dir.file(FeedCacheFileName); }

    TempDir dir;
    TFeedServer server;
    apptest::TRecordedBoxes boxes;
    TFakeShell fakeShell;
};

class TPaintCounter : public QWidget {
public:
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++Paints; }
};

}  // namespace

TEST_F(TUpdateCheckTest, DownloadWritesTheBodyAndSendsAPlainGetWithTheTwoHeaders) {
    // A proxy named by the environment must not be used.
    ::setenv("http_proxy", "http://127.0.0.1:9", 1);
    server.Body = Feed("3.3", "0");
    const bool ok = Download(server.Address(), FeedPath());
    ::unsetenv("http_proxy");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadFile(FeedPath()), server.Body);
    ASSERT_EQ(server.Requests.size(), 1u);
    const std::string& request = server.Requests[0];
    EXPECT_EQ(request.rfind("GET /feed.xml HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nAccept: text/html, */*\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"), std::string::npos)
        << request;
}

TEST_F(TUpdateCheckTest, DownloadFailuresLeaveTheFileAsItWas) {
    WriteFile(FeedPath(), "old");
    server.Status = 404;
    server.Body = "<html>not here</html>";
    EXPECT_FALSE(Download(server.Address(), FeedPath()));
    EXPECT_FALSE(Download(ClosedAddress(), FeedPath()));
    // Only web addresses are fetched; the network layer would read local files too.
    EXPECT_FALSE(Download("file://" + FeedPath(), dir.file("copy.xml")));
    // No feed is larger than a megabyte; a server that sends more is cut off.
    server.Status = 200;
    server.Body = std::string(MaxFeedBytes + 1, ' ');
    EXPECT_FALSE(Download(server.Address(), FeedPath()));
    EXPECT_EQ(ReadFile(FeedPath()), "old");
    EXPECT_FALSE(std::filesystem::exists(dir.file("copy.xml")));
}

TEST_F(TUpdateCheckTest, ASlowOrSilentServerIsGivenUpAtTheDeadlineWhileTheWindowRepaints) {
    // A byte every 50 ms would take seconds; the limit is on the whole download.
    server.TrickleMs = 50;
    server.Body = Feed("3.3", "0");
    QElapsedTimer trickled;
    trickled.start();
    EXPECT_FALSE(Download(server.Address(), FeedPath(), 400));
    EXPECT_LT(trickled.elapsed(), 3000);
    EXPECT_FALSE(std::filesystem::exists(FeedPath()));
    // The whole check, both downloads together, keeps to one limit too.
    trickled.restart();
    EXPECT_EQ(RunUpdateCheck([&] {
                  TUpdateCheckSettings s = Settings(server.Address());
                  s.TimeoutMs = 400;
                  return s;
              }(), nullptr).AdList.size(),
              BuiltInAdInfos().size());
    EXPECT_LT(trickled.elapsed(), 3000);
    server.TrickleMs = 0;
    server.Requests.clear();

    server.Silent = true;
    TPaintCounter window;
    window.resize(60, 40);
    window.show();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] { window.update(); });
    ticker.start(20);
    QCoreApplication::processEvents();
    const int before = window.Paints;

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(Download(server.Address(), FeedPath(), 400));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 350);
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(server.Requests.size(), 1u);
    EXPECT_GE(window.Paints - before, 5);
    EXPECT_FALSE(std::filesystem::exists(FeedPath()));
}

TEST_F(TUpdateCheckTest, TheStartUpCheckWaitsFifteenSecondsAndKeepsItsFilesBesideTheSettings) {
    TGlobalObject global = EditionGlobalObject();
    global.SetSettingsFile(dir.file("zantomp4aviconverter.ini"));
    const TUpdateCheckSettings s = UpdateCheckSettings(global);
    EXPECT_EQ(s.TimeoutMs, 15000);
    EXPECT_EQ(s.Folder, dir.path().string());
    EXPECT_TRUE(shell::IsWebAddress(s.FeedAddress)) << s.FeedAddress;
}

TEST_F(TUpdateCheckTest, ReadingAFeedValueFollowsTheNamesFromTheDocumentElement) {
    WriteFile(FeedPath(),
              "<XMLPackage><count number=\"2\">two</count>"
              "<row0 info=\"first\" url=\"https://a.example/\"><note>inner</note></row0>"
              "<row0 info=\"second row0\"/></XMLPackage>");
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.count", "number"), "2");
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.count", "  "), "two");  // blank: the element's text
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.row0", "info"), "first");  // the first of that name
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.row0.note", ""), "inner");
    // A later name that is not there leaves the search where it was.
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.row0.nothing", "info"), "first");
    // The second name must be there, and names match case and all.
    EXPECT_EQ(ReadFeedValue(FeedPath(), "XMLPackage.Count", "number"), "");
    EXPECT_EQ(ReadFeedValue(FeedPath(), "xmlpackage.count", "number"), "");

    WriteFile(FeedPath(), "<html><body>proxy error</body>");
    EXPECT_THROW(ReadFeedValue(FeedPath(), "XMLPackage.count", "number"), TFeedError);
    EXPECT_THROW(ReadFeedValue(dir.file("none.xml"), "XMLPackage.count", "number"), TFeedError);

    for (const char* bad : {"", "error", "3.3.1", "nan"}) EXPECT_THROW(FeedNumber(bad), TFeedError) << bad;
}

TEST_F(TUpdateCheckTest, OnlyANewerVersionThanTheProgramsAsks) {
    for (const auto& [version, asks] : std::vector<std::pair<std::string, bool>>{
             {"3.31", true}, {"3.3", false}, {"3.299", false}, {"3.300", false}}) {
        boxes.Asked.clear();
        boxes.Answer = false;
        server.Body = Feed(version, "0");
        const TUpdateCheckResult r = Check(server.Address());
        EXPECT_EQ(r.LatestVersion, version);
        EXPECT_FALSE(r.CloseForUpgrade);
        ASSERT_EQ(boxes.Asked.size(), asks ? 1u : 0u) << version;
        if (asks) {
            EXPECT_EQ(boxes.Asked[0].Caption, "Warning - New Version Available for Download.");
            EXPECT_EQ(boxes.Asked[0].Text, "Do you want to upgrade to Zanto MP4 to AVI Converter 3.31 now?");
        }
    }
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_TRUE(fakeShell.Opened.empty());  // declined: nothing opened
}

TEST_F(TUpdateCheckTest, AcceptingTheUpgradeOpensTheInstallerAndAsksToClose) {
    boxes.Answer = true;
    server.Body = Feed("9.99", "1", {{"Try the video edition", "https://www.zantosoft.com/video"}});
    const TUpdateCheckResult r = Check(server.Address());
    EXPECT_TRUE(r.CloseForUpgrade);
    EXPECT_EQ(fakeShell.Opened,
              std::vector<std::string>{"https://www.zantosoft.com/download/zanto-mp4-to-avi-converter.tar.gz"});
    // The rest of the check still ran.
    ASSERT_EQ(r.AdList.size(), 1u);
    EXPECT_EQ(r.AdList[0].Message, "Try the video edition");
    EXPECT_TRUE(std::filesystem::exists(CachePath()));
    EXPECT_TRUE(boxes.Shown.empty());

    // Without a desktop to open the page the program stays, and says why.
    fakeShell.Answer = false;
    EXPECT_FALSE(Check(server.Address()).CloseForUpgrade);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text,
              "The download page https://www.zantosoft.com/download/zanto-mp4-to-avi-converter.tar.gz could not be "
              "opened.");
}

TEST_F(TUpdateCheckTest, TheFeedsRowsBecomeTheListAndTheFeedIsCached) {
    server.Body = Feed("3.3", "2", {{"First message", "https://a.example/one"}, {"Second", "http://b.example/"}});
    TUpdateCheckResult r = Check(server.Address());
    ASSERT_EQ(r.AdList.size(), 2u);
    EXPECT_EQ(r.AdList[0].Message, "First message");
    EXPECT_EQ(r.AdList[0].Address, "https://a.example/one");
    EXPECT_EQ(r.AdList[1].Address, "http://b.example/");
    EXPECT_EQ(ReadFile(CachePath()), server.Body);
    EXPECT_EQ(server.Requests.size(), 2u);  // the feed, then its cached copy

    server.Body = Feed("3.3", "0");
    r = Check(server.Address());
    EXPECT_TRUE(r.AdList.empty());
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(TUpdateCheckTest, WithoutTheServerTheCacheOrElseTheBuiltInMessagesAreUsed) {
    const std::string closed = ClosedAddress();
    TUpdateCheckResult r = Check(closed);
    ASSERT_EQ(r.AdList.size(), 7u);
    EXPECT_EQ(r.AdList[0].Message, BuiltInAdInfos()[0].Message);
    EXPECT_EQ(r.LatestVersion, "");

    WriteFile(CachePath(), Feed("99.0", "1", {{"From the cache", "https://c.example/"}}));
    r = Check(closed);
    ASSERT_EQ(r.AdList.size(), 1u);
    EXPECT_EQ(r.AdList[0].Message, "From the cache");
    EXPECT_EQ(r.LatestVersion, "99.0");
    EXPECT_TRUE(boxes.Asked.empty());  // however new, a cached version never asks
    EXPECT_FALSE(std::filesystem::exists(FeedPath()));
}

TEST_F(TUpdateCheckTest, AnotherDocumentElementReadsEmptyAndTheNumberErrorIsShown) {
    server.Body = Feed("9.99", "3", {}, "Package");
    const TUpdateCheckResult r = Check(server.Address());
    EXPECT_EQ(r.LatestVersion, "");
    EXPECT_TRUE(r.AdList.empty());
    EXPECT_TRUE(boxes.Asked.empty());
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Error);
    EXPECT_EQ(boxes.Shown[0].Text, "'' is not a valid floating point value.");
}

TEST_F(TUpdateCheckTest, ABodyThatIsNotXmlIsShownByTheErrorHandlerAndTheCheckEnds) {
    SetApplicationTitle("Zanto MP4 to AVI Converter");
    server.Body = "<html><body>Gateway timeout";
    const TUpdateCheckResult r = Check(server.Address());
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Icon, TMessageIcon::Error);
    EXPECT_EQ(boxes.Shown[0].Caption, "Zanto MP4 to AVI Converter");
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith(QString::fromStdString("The update feed " + FeedPath())))
        << boxes.Shown[0].Text.toStdString();
    EXPECT_TRUE(r.AdList.empty());
    // The bad copy never replaces the cache.
    EXPECT_FALSE(std::filesystem::exists(CachePath()));
    EXPECT_EQ(server.Requests.size(), 1u);
}

TEST_F(TUpdateCheckTest, FeedTextsAreShownAsTheirCharactersAndOnlyItsWebLinksOpen) {
    const QString markup = R"(<a href="file:///etc/passwd">x</a><img src="file:///etc/logo.png">)";
    const std::string escaped = markup.toHtmlEscaped().toStdString();

    // Markup where a number belongs reaches the error box the user sees as its characters.
    server.Body = Feed("3.3", escaped);
    SetMessageBoxes(nullptr);
    QString shown;
    QStringList asMarkup{"no box"};
    apptest::WhenModal<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        asMarkup = apptest::MarkupShown(*box, markup);
        box->accept();
    });
    Check(server.Address());
    SetMessageBoxes(&boxes);
    EXPECT_TRUE(shown.contains(markup)) << shown.toStdString();
    EXPECT_EQ(asMarkup, QStringList{});

    // The rows' messages as well; clicking each one opens its address only when that is a
    // web address.
    server.Body = Feed("3.3", "3",
                       {{escaped, "file:///etc/passwd"},
                        {"script", "javascript:alert('http')"},
                        {"fine", "https://www.zantosoft.com/tips"}});
    const TUpdateCheckResult r = Check(server.Address());
    ASSERT_EQ(r.AdList.size(), 3u);
    apptest::TScratchHome home;
    TGlobalObject global = EditionGlobalObject();
    global.SetSettingsFile(dir.file("zantomp4aviconverter.ini"));
    TfrmMain main(global);
    main.SetAdList(r.AdList);
    main.SetLatestVersion(r.LatestVersion);
    TfrmProgress& progress = main.ProgressWindow();
    progress.show();
    auto* text = progress.findChild<QTextEdit*>("mmoMessage");
    for (int i = 0; i < 3; ++i) {
        progress.ShowMessage(i);
        QTest::mouseClick(text->viewport(), Qt::LeftButton);
    }
    progress.ShowMessage(0);
    EXPECT_EQ(text->toPlainText(), markup);
    progress.hide();
    ASSERT_EQ(fakeShell.Opened.size(), 1u);
    EXPECT_EQ(fakeShell.Opened[0].rfind("https://www.zantosoft.com/tips?", 0), 0u) << fakeShell.Opened[0];
}

TEST_F(TUpdateCheckTest, TheMainWindowRunsTheCheckWhenFirstShownAndKeepsWhatItFound) {
    const char* saved = std::getenv("REELSHIFT_UPDATE_URL");
    const std::string keep = saved ? saved : "";
    ::setenv("REELSHIFT_UPDATE_URL", server.Address().c_str(), 1);
    server.Body = Feed("9.99", "1", {{"Feed message", "https://www.zantosoft.com/x"}});
    apptest::TScratchHome home;
    TGlobalObject global = EditionGlobalObject();
    global.SetSettingsFile(dir.file("zantomp4aviconverter.ini"));

    {
        boxes.Answer = false;
        TfrmMain main(global);
        main.show();
        for (int i = 0; i < 50 && boxes.Asked.empty(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_EQ(boxes.Asked.size(), 1u);
        EXPECT_EQ(main.LatestVersion(), "9.99");
        ASSERT_EQ(main.AdList().size(), 1u);
        EXPECT_EQ(main.AdList()[0].Message, "Feed message");
        EXPECT_TRUE(main.isVisible());
        EXPECT_TRUE(std::filesystem::exists(CachePath()));
    }
    {
        boxes.Asked.clear();
        boxes.Answer = true;
        TfrmMain main(global);
        main.show();
        for (int i = 0; i < 50 && main.isVisible(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(main.isVisible());  // closed for the upgrade, with no exit question
        ASSERT_EQ(boxes.Asked.size(), 1u);
        EXPECT_EQ(boxes.Asked[0].Caption, "Warning - New Version Available for Download.");
        EXPECT_EQ(main.Global(), nullptr);
    }
    if (saved) ::setenv("REELSHIFT_UPDATE_URL", keep.c_str(), 1);
    else ::unsetenv("REELSHIFT_UPDATE_URL");
}

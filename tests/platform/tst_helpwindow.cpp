// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "helpwindow.h"
#include "qtplatform.h"

#include <QAccessible>
#include <QDesktopServices>
#include <QFile>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

const QByteArray kSample = "<html><body><h1>Title</h1>"
                           "<h2>First topic</h2><p>alpha beta alpha</p>"
                           "<h2>\xE9\x8C\xB2\xE9\x9F\xB3</h2><p>gamma alpha</p>"  // 録音
                           "</body></html>";

// Stands in for the desktop: records every address the program hands to it.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(QList<QUrl> *seen) : m_seen(seen) {}
public slots:
    void take(const QUrl &url) { m_seen->append(url); }

private:
    QList<QUrl> *m_seen;
};

} // namespace

class TstHelpWindow : public QObject {
    Q_OBJECT
private slots:
    void listsTopicsAndJumps();
    void findNextWalksAndWraps();
    void missingFileIsReported();
    void platformShowsOneWindowAgain();
    void shippedHelpFileCoversTheProgram();
    void followsOnlyItsOwnAnchorsAndLoadsNothing();
};

void TstHelpWindow::listsTopicsAndJumps() {
    QTemporaryDir dir;
    HelpWindow w;
    QVERIFY(w.load(writeFile(dir, "tavr.hlp", kSample)));
    QCOMPARE(w.topics(), (QStringList{"First topic", QStringLiteral("録音")}));
    w.showTopic(1);
    QCOMPARE(w.findChild<QObject *>("Browser")->property("plainText").toString().isEmpty(), false);
    // Named for screen readers by their labels.
    for (const char *name : {"SearchEdit", "Contents", "Browser"})
        QVERIFY(!QAccessible::queryAccessibleInterface(w.findChild<QWidget *>(name))->text(QAccessible::Name).isEmpty());
    QVERIFY(w.findNext("gamma"));  // the search goes on from the topic shown
    QCOMPARE(w.selectedText(), QStringLiteral("gamma"));
}

void TstHelpWindow::findNextWalksAndWraps() {
    QTemporaryDir dir;
    HelpWindow w;
    QVERIFY(w.load(writeFile(dir, "tavr.hlp", kSample)));
    const QString text = w.plainText();
    int found = 0;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(w.findNext("ALPHA"));  // case does not matter
        QCOMPARE(w.selectedText().toLower(), QStringLiteral("alpha"));
        ++found;
    }
    QVERIFY(w.statusText().isEmpty());
    QVERIFY(w.findNext("alpha"));  // the fourth wraps to the first
    QCOMPARE(w.statusText(), QStringLiteral("先頭から検索しました。"));
    QVERIFY(w.findNext(QStringLiteral("録音")));
    QVERIFY(!w.findNext("delta"));
    QCOMPARE(w.statusText(), QStringLiteral("「delta」は見つかりません。"));
    QCOMPARE(w.plainText(), text);
}

void TstHelpWindow::missingFileIsReported() {
    QTemporaryDir dir;
    const QString path = dir.filePath("nothere.hlp");
    HelpWindow w;
    QVERIFY(!w.load(path));
    QVERIFY(!w.isLoaded());
    const QString expected = QStringLiteral("ヘルプファイル %1 が見つかりません。").arg(path);
    QCOMPARE(w.plainText(), expected);
    QCOMPARE(w.statusText(), expected);
    QVERIFY(w.topics().isEmpty());
    QVERIFY(!w.findNext("x"));
}

void TstHelpWindow::platformShowsOneWindowAgain() {
    QTemporaryDir dir;
    QtPlatform p;
    QWidget owner;
    p.showHelp(&owner, dir.filePath("missing.hlp"));
    HelpWindow *first = p.helpWindow();
    QVERIFY(first && first->isVisible() && !first->isLoaded());
    QVERIFY(!first->isModal());
    first->close();
    // The file has appeared since: the same window shows it.
    const QString path = writeFile(dir, "missing.hlp", kSample);
    p.showHelp(&owner, path);
    QCOMPARE(p.helpWindow(), first);
    QVERIFY(first->isVisible() && first->isLoaded());
}

void TstHelpWindow::shippedHelpFileCoversTheProgram() {
    HelpWindow w;
    QVERIFY(w.load(QStringLiteral(TAVR_HELP_SOURCE)));
    QVERIFY(w.topics().size() >= 10);
    const QString text = w.plainText();
    const QStringList mustMention = {
        "新規作成", "保存", "終了", "形式の選択", "タイマーをON", "タイマーの設定",
        "タイマー後自動保存", "コンパクトモード", "常に手前に表示", "音量の調節", "目次",
        "バージョン情報", "Space", "Ctrl+Space", "Ctrl+Left", "Ctrl+Right", "Ctrl+N", "Ctrl+S",
        "ダブルクリック", "-rec", "00:01:30", "mmddhhnnss", "RF64", "4 GiB", ".ini",
        "11025Hz", "22050Hz", "44100Hz", "モノラル", "ステレオ", "8ビット", "16ビット"};
    for (const QString &word : mustMention)
        QVERIFY2(text.contains(word), qPrintable(word));
    // A paragraph wrapped in the file reads without a space at the break.
    QVERIFY(text.contains(QStringLiteral("録音し、再生して")));
    QCOMPARE(HelpWindow::joinWrappedLines(QStringLiteral("あ\nい。\r\n  ウ\nA\nB あ\nB")),
             QStringLiteral("あい。ウ\nA\nB あ\nB"));
}

// A help file that links out, or shows /dev/zero or a FIFO as an image, must neither start
// anything, nor read the files, nor hang or abort the program.
void TstHelpWindow::followsOnlyItsOwnAnchorsAndLoadsNothing() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.png");
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString secret = writeFile(dir, "secret.txt", "SECRET");
    QByteArray html = "<html><body><h2>One</h2><p><img src=\"file:///dev/zero\"><img src=\"pipe.png\">"
                      "<img src=\"" + QUrl::fromLocalFile(fifo).toEncoded() + "\">"
                      "<a href=\"#two\">jump</a> <a href=\"https://example.org/\">out</a> "
                      "<a href=\"" + QUrl::fromLocalFile(secret).toEncoded() + "\">file</a></p>";
    for (int i = 0; i < 200; ++i)
        html += "<p>filler</p>";
    html += "<h2 id=\"two\">Two</h2><p>end</p></body></html>";

    QList<QUrl> handedOut;
    UrlCatcher catcher(&handedOut);
    for (const char *scheme : {"https", "http", "file"})
        QDesktopServices::setUrlHandler(scheme, &catcher, "take");

    HelpWindow w;
    QVERIFY(w.load(writeFile(dir, "tavr.hlp", html)));
    w.resize(400, 300);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *browser = w.findChild<QTextBrowser *>("Browser");
    const QImage shot = browser->viewport()->grab().toImage();  // lays out and paints the images
    QVERIFY(!shot.isNull());

    const QUrl source = browser->source();
    for (const char *link : {"https://example.org/", "file:///etc/passwd"}) {
        emit browser->anchorClicked(QUrl(QString::fromLatin1(link)));
        QCoreApplication::processEvents();
    }
    emit browser->anchorClicked(QUrl::fromLocalFile(secret));
    QCoreApplication::processEvents();
    QVERIFY(!w.plainText().contains("SECRET"));
    QCOMPARE(browser->source(), source);
    QVERIFY(handedOut.isEmpty());

    QCOMPARE(browser->verticalScrollBar()->value(), 0);
    emit browser->anchorClicked(QUrl("#two"));
    QVERIFY(browser->verticalScrollBar()->value() > 0);
    for (const char *scheme : {"https", "http", "file"})
        QDesktopServices::unsetUrlHandler(scheme);
}

QTEST_MAIN(TstHelpWindow)
#include "tst_helpwindow.moc"

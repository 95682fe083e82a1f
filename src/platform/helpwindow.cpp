// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "helpwindow.h"

#include "strconv.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QUrl>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
// A help file is a few dozen kilobytes; anything far larger is not one.
constexpr qint64 kMaxHelpFileBytes = 8 * 1024 * 1024;
}

// The help text is the file alone: it follows only its own anchors and loads nothing, so a
// link or an image in it can neither start a program nor read (or hang on) another file.
class HelpBrowser : public QTextBrowser {
public:
    explicit HelpBrowser(QWidget *parent) : QTextBrowser(parent) {
        setOpenLinks(false);
        setOpenExternalLinks(false);
        connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
            if (isOwnAnchor(url))
                scrollToAnchor(url.fragment());
        });
    }

    static bool isOwnAnchor(const QUrl &url) {
        return url.scheme().isEmpty() && url.authority().isEmpty() && url.path().isEmpty() &&
               url.hasFragment();
    }

    // A value that is not null, or QTextDocument would go and read a file: URL itself.
    QVariant loadResource(int type, const QUrl &) override {
        if (type == QTextDocument::ImageResource)
            return QImage();
        if (type == QTextDocument::StyleSheetResource)
            return QString();
        return QByteArray();
    }
};

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Tavrin ヘルプ"));
    resize(720, 520);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("SearchEdit"));
    m_search->setPlaceholderText(QStringLiteral("検索する語句"));
    auto *searchLabel = new QLabel(QStringLiteral("検索:"), this);
    searchLabel->setBuddy(m_search);
    auto *findButton = new QPushButton(QStringLiteral("次を検索(&F)"), this);
    findButton->setObjectName(QStringLiteral("FindNextButton"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));

    m_topics = new QListWidget(this);
    m_topics->setObjectName(QStringLiteral("Contents"));
    m_topics->setAccessibleName(QStringLiteral("目次"));
    m_browser = new HelpBrowser(this);
    m_browser->setObjectName(QStringLiteral("Browser"));
    m_browser->setAccessibleName(QStringLiteral("ヘルプの本文"));

    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(m_search, 1);
    searchRow->addWidget(findButton);
    searchRow->addWidget(m_status, 1);

    auto *splitter = new QSplitter(this);
    splitter->addWidget(m_topics);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({180, 540});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(splitter, 1);

    const auto find = [this] { findNext(m_search->text()); };
    connect(m_search, &QLineEdit::returnPressed, this, find);
    connect(findButton, &QPushButton::clicked, this, find);
    connect(m_topics, &QListWidget::currentRowChanged, this, &HelpWindow::showTopic);
}

bool HelpWindow::load(const QString &fileName) {
    m_fileName = fileName;
    m_loaded = false;
    m_topics->clear();
    m_topicPositions.clear();
    m_status->clear();

    QFile f(fileName);
    QString problem;
    QByteArray bytes;
    if (!f.exists())
        problem = QStringLiteral("ヘルプファイル %1 が見つかりません。");
    else if (f.size() > kMaxHelpFileBytes || !f.open(QIODevice::ReadOnly))
        problem = QStringLiteral("ヘルプファイル %1 を読み込めません。");
    else
        bytes = f.readAll();
    if (problem.isEmpty() && f.error() != QFileDevice::NoError)
        problem = QStringLiteral("ヘルプファイル %1 を読み込めません。");
    if (!problem.isEmpty()) {
        const QString text = problem.arg(QDir::toNativeSeparators(fileName));
        m_browser->setPlainText(text);
        m_status->setText(text);
        return false;
    }

    m_browser->setHtml(joinWrappedLines(isValidUtf8(bytes) ? QString::fromUtf8(bytes) : fromSjis(bytes)));
    m_loaded = true;
    fillTopics();
    return true;
}

QString HelpWindow::joinWrappedLines(const QString &html) {
    // Full-width and half-width forms on both sides of the break, as CSS does for Japanese.
    static const QRegularExpression wrapped(QStringLiteral(
        "([\\x{2e80}-\\x{a4cf}\\x{f900}-\\x{faff}\\x{fe30}-\\x{fe4f}\\x{ff00}-\\x{ffef}])"
        "[ \\t]*\\r?\\n[ \\t]*"
        "(?=[\\x{2e80}-\\x{a4cf}\\x{f900}-\\x{faff}\\x{fe30}-\\x{fe4f}\\x{ff00}-\\x{ffef}])"));
    QString out = html;
    out.replace(wrapped, QStringLiteral("\\1"));
    return out;
}

void HelpWindow::fillTopics() {
    // Topics are the second-level headings; a file without any lists its first-level ones.
    for (int level : {2, 1}) {
        for (QTextBlock b = m_browser->document()->begin(); b.isValid(); b = b.next()) {
            if (b.blockFormat().headingLevel() == level && !b.text().trimmed().isEmpty()) {
                m_topics->addItem(b.text().trimmed());
                m_topicPositions << b.position();
            }
        }
        if (!m_topicPositions.isEmpty())
            return;
    }
}

QStringList HelpWindow::topics() const {
    QStringList titles;
    for (int i = 0; i < m_topics->count(); ++i)
        titles << m_topics->item(i)->text();
    return titles;
}

void HelpWindow::showTopic(int index) {
    if (index < 0 || index >= m_topicPositions.size())
        return;
    const QTextBlock block = m_browser->document()->findBlock(m_topicPositions.at(index));
    m_browser->setTextCursor(QTextCursor(block));
    // The heading at the top of the view, not merely somewhere in it.
    const QRectF rect = m_browser->document()->documentLayout()->blockBoundingRect(block);
    m_browser->verticalScrollBar()->setValue(int(rect.top()));
    if (m_topics->currentRow() != index)
        m_topics->setCurrentRow(index);
}

bool HelpWindow::findNext(const QString &text) {
    m_status->clear();
    if (text.isEmpty() || !m_loaded)
        return false;
    if (m_browser->find(text))
        return true;
    const QTextCursor previous = m_browser->textCursor();
    m_browser->moveCursor(QTextCursor::Start);
    if (m_browser->find(text)) {
        m_status->setText(QStringLiteral("先頭から検索しました。"));
        return true;
    }
    m_browser->setTextCursor(previous);
    m_status->setText(QStringLiteral("「%1」は見つかりません。").arg(text));
    return false;
}

QString HelpWindow::selectedText() const {
    return m_browser->textCursor().selectedText();
}

QString HelpWindow::statusText() const {
    return m_status->text();
}

QString HelpWindow::plainText() const {
    return m_browser->toPlainText();
}

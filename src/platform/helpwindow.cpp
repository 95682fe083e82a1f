// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "helpwindow.h"

#include "strconv.h"

#include <QDir>
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

HelpWindow::HelpWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Tavrin ヘルプ"));
    resize(720, 520);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("SearchEdit"));
    m_search->setPlaceholderText(QStringLiteral("検索する語句"));
    auto *findButton = new QPushButton(QStringLiteral("次を検索(&F)"), this);
    findButton->setObjectName(QStringLiteral("FindNextButton"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));

    m_topics = new QListWidget(this);
    m_topics->setObjectName(QStringLiteral("Contents"));
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("Browser"));
    m_browser->setOpenExternalLinks(true);

    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel(QStringLiteral("検索:"), this));
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

    m_browser->setHtml(isValidUtf8(bytes) ? QString::fromUtf8(bytes) : fromSjis(bytes));
    m_loaded = true;
    fillTopics();
    return true;
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

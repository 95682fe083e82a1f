// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program's own help viewer: the help file's topics on the left, the text on the right,
// and a search field. One window, created once and shown again on each help command.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QTextBrowser;
class HelpBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Reads the help file (HTML). When it is missing or unreadable the window says so; false then.
    bool load(const QString &fileName);
    bool isLoaded() const { return m_loaded; }
    QString fileName() const { return m_fileName; }

    // The topics' titles, in the file's order, and the jump to one of them.
    QStringList topics() const;
    void showTopic(int index);

    // Selects the next occurrence of the text after the current one, starting again at the
    // top after the last; false when the text does not occur.
    bool findNext(const QString &text);
    QString selectedText() const;
    QString statusText() const;
    QString plainText() const;

    // Line breaks inside Japanese text are not spaces: a paragraph wrapped in the file reads
    // as one line.
    static QString joinWrappedLines(const QString &html);

private:
    void fillTopics();

    QListWidget *m_topics;
    HelpBrowser *m_browser;
    QLineEdit *m_search;
    QLabel *m_status;
    QString m_fileName;
    bool m_loaded = false;
    QList<int> m_topicPositions;
};

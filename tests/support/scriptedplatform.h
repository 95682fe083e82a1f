// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A Platform that answers every question from a script and remembers what it was asked.
#pragma once

#include "platform.h"

#include <QList>
#include <QQueue>
#include <QThread>

#include <functional>
#include <optional>

// Thrown where the real program would end at once.
struct ProgramTerminated {
    int exitCode;
};

class ScriptedPlatform : public Platform {
public:
    struct Message {
        QString caption;
        QString text;
        MsgButtons buttons;
        MsgIcon icon;
    };
    struct Query {
        QString caption;
        QString prompt;
        QString value;
    };

    // Answers, taken in order. A question box with no answer left is answered Cancel; a save
    // dialog or entry with none is cancelled.
    QQueue<MsgResult> answers;
    QQueue<std::optional<QString>> saveAnswers;   // a full path, or nullopt to cancel
    QQueue<int> saveFilters;                       // the filter chosen with it (else as shown)
    QQueue<bool> saveCancels;                      // true: cancel the save's progress at once
    QQueue<std::optional<QString>> inputAnswers;  // the edited text, or nullopt to cancel
    // Runs while any dialog is "open", as the window's timer would.
    std::function<void()> whileModal;

    int deviceCount = 1;
    QDateTime clock = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9));
    QPoint cursor;
    QWidget *underCursor = nullptr;

    // What happened.
    QList<Message> messages;
    QList<SaveDialogState> saveDialogs;  // the dialog as it was when run
    QList<Query> queries;
    int saveWaits = 0;
    int beeps = 0;
    QList<bool> stayOnTopCalls;
    int volumeCalls = 0;
    bool sleepInhibited = false;
    int sleepChanges = 0;
    QStringList helpCalls;

    MsgResult messageBox(QWidget *, const QString &caption, const QString &text, MsgButtons buttons,
                         MsgIcon icon) override {
        messages.append({caption, text, buttons, icon});
        modal();
        if (buttons == MsgButtons::Ok)
            return answers.isEmpty() ? MsgResult::Ok : answers.dequeue();
        return answers.isEmpty() ? MsgResult::Cancel : answers.dequeue();
    }
    void beep() override { ++beeps; }
    bool runSaveDialog(QWidget *, SaveDialogState &dialog) override {
        saveDialogs.append(dialog);
        modal();
        const std::optional<QString> answer = saveAnswers.isEmpty() ? std::nullopt : saveAnswers.dequeue();
        if (!answer)
            return false;
        dialog.fileName = *answer;
        if (!saveFilters.isEmpty())
            dialog.filterIndex = saveFilters.dequeue();
        return true;
    }
    bool waitForSave(QWidget *, const std::function<bool()> &finished,
                     const std::function<int()> &) override {
        ++saveWaits;
        modal();
        if (!saveCancels.isEmpty() && saveCancels.dequeue())
            return false;
        while (!finished())
            QThread::msleep(1);
        return true;
    }
    bool inputQuery(QWidget *, const QString &caption, const QString &prompt, QString &value) override {
        queries.append({caption, prompt, value});
        modal();
        const std::optional<QString> answer = inputAnswers.isEmpty() ? std::nullopt : inputAnswers.dequeue();
        if (!answer)
            return false;
        value = *answer;
        return true;
    }
    int waveOutDeviceCount() override { return deviceCount; }
    void setStayOnTop(QWidget *, bool onTop) override { stayOnTopCalls.append(onTop); }
    void openVolumeControl(QWidget *) override { ++volumeCalls; }
    void showHelp(QWidget *, const QString &helpFile) override { helpCalls.append(helpFile); }
    void inhibitSleep(bool on) override {
        sleepChanges += on != sleepInhibited;
        sleepInhibited = on;
    }
    QDateTime now() override { return clock; }
    QPoint cursorPos() override { return cursor; }
    QWidget *widgetAt(const QPoint &) override { return underCursor; }
    [[noreturn]] void terminate(int exitCode) override { throw ProgramTerminated{exitCode}; }

    // Messages whose caption is the general error display's.
    QStringList errors() const {
        QStringList out;
        for (const Message &m : messages)
            if (m.caption == QLatin1String("Tavrin"))
                out.append(m.text);
        return out;
    }

private:
    void modal() {
        if (whileModal)
            whileModal();
    }
};

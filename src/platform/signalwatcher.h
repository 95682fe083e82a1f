// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal on the UI thread, so the program can put
// its recording in a safe place before it ends.
#pragma once

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

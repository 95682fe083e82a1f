// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A recorder window on the fake audio backend and a scripted platform, in a folder of its own
// that plays the part of the executable's folder.
#pragma once

#include "fakeaudiobackend.h"
#include "mainwindowui.h"
#include "scriptedplatform.h"
#include "tmediaplayer.h"
#include "unit1.h"
#include "widgets.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

struct RecorderRig {
    QTemporaryDir dir;
    ScriptedPlatform platform;
    FakeAudioBackend *fake = nullptr;
    std::unique_ptr<TForm1> form;

    QString exePath() const { return dir.path() + QStringLiteral("/tavr"); }
    QString workFile() const { return dir.path() + QStringLiteral("/tavr.wav"); }
    QString iniFile() const { return dir.path() + QStringLiteral("/tavr.ini"); }
    QString stateDir() const { return dir.path() + QStringLiteral("/state"); }

    // Creates the window, which runs its whole start-up.
    void start(const QStringList &arguments = {}, int outputDevices = 1) {
        auto backend = std::make_unique<FakeAudioBackend>();
        fake = backend.get();
        fake->setOutputDeviceCount(outputDevices);
        platform.deviceCount = outputDevices;
        form = std::make_unique<TForm1>(platform, std::move(backend), AppPaths(exePath(), stateDir()),
                                        arguments);
    }

    template <class T>
    T *find(const char *name) const {
        T *object = form->findChild<T *>(QString::fromLatin1(name));
        if (!object)
            qFatal("no control named %s", name);
        return object;
    }
    QAction *action(const char *name) const { return find<QAction>(name); }
    TSpeedButton *button(const char *name) const { return find<TSpeedButton>(name); }
    QString label() const { return find<TStatusLabel>("Label1")->caption(); }
    QString panel() const { return find<TStatusPanel>("Panel2")->caption(); }
    bool timerOn() const { return find<QTimer>("Timer1")->isActive(); }
    TMediaPlayer &device() const { return form->mediaPlayer(); }

    void click(const char *buttonName) { button(buttonName)->click(); }
    void trigger(const char *actionName) { action(actionName)->trigger(); }
    // Shortcuts reach only the active window, as on a desktop.
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (!form->isActiveWindow()) {
            form->show();
            form->activateWindow();
            if (!QTest::qWaitForWindowActive(form.get()))
                qFatal("the window did not become active");
        }
        QTest::keyClick(form.get(), Qt::Key(key), modifiers);
    }
    // The clock moves, then the 500 ms tick runs, as the window's timer would.
    void advanceAndTick(qint64 ms) {
        fake->advance(ms);
        if (timerOn())
            form->Timer1Timer();
    }
    QByteArray readFile(const QString &path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

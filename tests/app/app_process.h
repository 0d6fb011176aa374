// The real program as child processes: offscreen, without a sound server or
// a session bus, with an app folder and a runtime folder of their own.
#pragma once

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/app/run_events.h"

namespace wl::test {

class AppProcesses {
public:
    AppProcesses() {
        QFile::setPermissions(runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    bool Valid() const { return home_.isValid() && runtime_.isValid(); }
    QString Home() const { return home_.path() + "/"; }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("WAVELANTERN_HOME", home_.path());
        env.insert("XDG_RUNTIME_DIR", runtime_.path());
        env.insert("WAVELANTERN_AUDIO", "null");
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/wl-no-bus");
        return env;
    }
    // Starts the program with `arguments` (stderr kept apart); the caller
    // owns the process.
    std::unique_ptr<QProcess> Start(const QStringList& arguments, const QProcessEnvironment& env) const {
        auto process = std::make_unique<QProcess>();
        process->setProgram(QStringLiteral(WL_APP_BIN));
        process->setArguments(arguments);
        process->setProcessEnvironment(env);
        process->start();
        return process;
    }
    std::unique_ptr<QProcess> Start(const QStringList& arguments = {}) const { return Start(arguments, Environment()); }

    // A value of the program's "wavelantern.conf".
    QVariant Conf(const char* key) const {
        QSettings conf(Home() + "wavelantern.conf", QSettings::IniFormat);
        return conf.value(QString::fromLatin1(key));
    }

private:
    QTemporaryDir home_;
    QTemporaryDir runtime_;
};

// Waits (running events) until every process has ended; false after `ms`.
inline bool AllFinished(const std::vector<std::unique_ptr<QProcess>>& processes, int ms) {
    return RunEventsUntil(
        [&] {
            for (const auto& p : processes) {
                if (p->state() != QProcess::NotRunning) return false;
            }
            return true;
        },
        ms);
}

// Ends a process that is still running at the end of a test.
inline void Reap(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.kill();
    process.waitForFinished(5000);
}

}  // namespace wl::test

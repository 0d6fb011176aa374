// The real program as child processes: offscreen, without a sound server or
// a session bus, with an app folder and a runtime folder of their own.
#pragma once

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

#include "app/single_instance.h"
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

    // The running instance's socket (it exists once the instance has
    // claimed its place and caught the quit signals).
    QString ServerName() const {
        const QByteArray home = qgetenv("WAVELANTERN_HOME");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const bool hadHome = qEnvironmentVariableIsSet("WAVELANTERN_HOME");
        const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        qputenv("WAVELANTERN_HOME", home_.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        const QString name = InstanceServerName();
        if (hadHome) qputenv("WAVELANTERN_HOME", home); else qunsetenv("WAVELANTERN_HOME");
        if (hadRuntime) qputenv("XDG_RUNTIME_DIR", runtime); else qunsetenv("XDG_RUNTIME_DIR");
        return name;
    }
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

// Sends `signal` to the process while it runs (a process id of 0 would send
// it to the whole process group, this test included).
inline bool SendSignal(QProcess& process, int signal) {
    const qint64 pid = process.processId();
    return process.state() == QProcess::Running && pid > 0 && ::kill(static_cast<pid_t>(pid), signal) == 0;
}

// Ends a process that is still running at the end of a test.
inline void Reap(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.kill();
    process.waitForFinished(5000);
}

}  // namespace wl::test

// The program's start: the first start claims the single instance before any
// window is built; any other start hands its files to the running instance
// and ends without a window.
#include <QApplication>
#include <QSessionManager>

#include <cstdio>

#include "app/app_folder.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/memory_tuning.h"
#include "app/mpris.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"

namespace {

void Complain(const QString& text) { std::fprintf(stderr, "wavelantern: %s\n", text.toLocal8Bit().constData()); }

}  // namespace

int main(int argc, char** argv) {
    wl::ReturnLargeBlocksToSystem();
    // On X11, paint small areas without shared memory: the level meters hand
    // a few changed rows to the display 25 times a second, and through shared
    // memory each such paint first waits for a round trip to the X server
    // (two more thread wake-ups a frame). Sending the pixels with the request
    // costs less. An explicit setting is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromLatin1(wl::kAppTitle));
    // Lets the desktop (Wayland included) match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("wavelantern"));
    // Paths as this process sees them, before anything changes the directory.
    const QStringList arguments = wl::AbsoluteArguments(app.arguments().mid(1));

    wl::TInstanceClaim claim;
    QString error;
    switch (wl::ClaimOrHandOver(claim, arguments, &error)) {
    case wl::TStartRole::HandedOver:
        return 0;
    case wl::TStartRole::Failed:
        Complain(error);
        return 1;
    case wl::TStartRole::Instance:
        break;
    }
    if (!claim.Held()) Complain(claim.Error() + QStringLiteral("; running without the single-instance lock"));
    // Caught from here on (before the socket shows that this instance runs),
    // handled once the window stands.
    wl::TQuitSignals quitSignals;
    wl::TInstanceServer server;
    if (!server.Listen()) {
        if (server.AnotherAnswers()) {
            // An older version runs there (it takes no lock): its file hand-off.
            if (!wl::WriteHandOff(wl::AppFolder(), arguments, &error)) {
                Complain(QStringLiteral("cannot hand the files over in the folder %1 (%2)")
                             .arg(wl::AppFolder(), error));
                return 1;
            }
            return 0;
        }
        Complain(server.ErrorText() + QStringLiteral("; later starts cannot hand their files to this one"));
    }
    wl::TForm1 form1;
    form1.Arguments = arguments;
    wl::TForm2 form2;
    // What playback reports goes to the status line and to stderr.
    QObject::connect(form1.Controller.get(), &wl::TPlaybackController::Error,
                     [](const QString& text) { Complain(text); });
    QObject::connect(&server, &wl::TInstanceServer::HandOff, &form1,
                     [&form1](const QStringList& handed, qint64 startedMs) { form1.HandOver(handed, startedMs); });
    form1.OnQuitStarted = [&server] { server.Close(); };
    // A signal or the desktop session's end: saved as "X" saves, nobody asked.
    QObject::connect(&quitSignals, &wl::TQuitSignals::Received, &form1, [&form1](int) { form1.Quit(true); });
#ifndef QT_NO_SESSIONMANAGER
    // Asked only as the session ends (the session manager's checkpoints come
    // as saveStateRequest, which holds no data of ours).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form1,
                     [&form1](QSessionManager&) { form1.SaveForSessionEnd(); });
#endif
    // Media keys and the sound menu; the program runs on without a bus.
    auto mpris = wl::TMprisService::Start(form1.Controller.get(), {[&form1] { form1.RaiseWindow(); },
                                                                    [&form1] { form1.SpeedButton1Click(); }});
    form1.show();
    // Now that the window stands (its first show has started what the command
    // line asked for): hand-offs and signals that came meanwhile, then the rest.
    server.StartTaking();
    quitSignals.StartDelivering();
    return app.exec();
}

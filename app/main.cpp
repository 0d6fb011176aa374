// The program's start: a second start hands its files to the running
// instance and ends without a window; the first start builds the windows.
#include <QApplication>

#include <cstdio>

#include "app/app_folder.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/mpris.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
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

    if (wl::InstanceRunning()) {
        return wl::WriteHandOff(wl::AppFolder(), arguments) ? 0 : 1;
    }

    wl::TForm1 form1;
    form1.Arguments = arguments;
    wl::TForm2 form2;
    // What playback reports goes to the status line and to stderr.
    QObject::connect(form1.Controller.get(), &wl::TPlaybackController::Error, [](const QString& text) {
        std::fprintf(stderr, "wavelantern: %s\n", text.toLocal8Bit().constData());
    });
    // Media keys and the sound menu; the program runs on without a bus.
    auto mpris = wl::TMprisService::Start(form1.Controller.get(), {[&form1] { form1.RaiseWindow(); },
                                                                    [&form1] { form1.SpeedButton1Click(); }});
    form1.show();
    return app.exec();
}

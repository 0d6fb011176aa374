#include <QApplication>

#include "app/form1.h"
#include "app/form2.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral(" Wavelantern 2.1"));
    wl::TForm1 form1;
    form1.Arguments = app.arguments().mid(1);
    wl::TForm2 form2;
    form1.show();
    return app.exec();
}
